// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Desktop notifications of what happens while the window is hidden: a call begins, the
// program cuts the line, the router goes away or comes back. Shown only when the user has
// switched them on ("通知を表示する", off by default).
#include <string>

#include "settings/settings.h"

namespace kv {

// The desktop's notification; FrmMnu's icon or the session's notification service shows it.
class NotifierPort {
  public:
    virtual ~NotifierPort() = default;
    // One short line under the program's name; shown for a while, never waited for.
    virtual void Notify(const std::string& text) = 0;
};

inline constexpr const char* kNotifyCallStarted = "接続しました";
inline constexpr const char* kNotifyAutoCut = "自動切断しました";
inline constexpr const char* kNotifyLinkLost = "MN128との接続が切れました";
inline constexpr const char* kNotifyLinkBack = "MN128に再接続しました";
inline constexpr const char* kNotifyLinkLostInCall =
    "MN128との接続が切れました。回線がつながったままの可能性があります";
// At exit, the cut with "強制切断" could not be sent or was not answered.
inline constexpr const char* kCutFailedText =
    "回線を切断できませんでした。ルーターで回線の状態を確かめてください";

class Notices {
  public:
    explicit Notices(const Settings& settings) : settings_(settings) {}
    // None: nothing is shown (a test, or a desktop without either way to show it).
    void SetPort(NotifierPort* port) { port_ = port; }

    void CallStarted();
    // The per-second check hangs up: said when the call it cut has closed, so a cut that
    // waits for the console is said once, and a cut by the user's button never.
    void AutoCutAsked() { autoCutAsked_ = true; }
    void CallEnded();
    // inCall: a call was up when the router was last seen.
    void LinkLost(bool inCall = false);
    void LinkBack();
    void CutFailed();

  private:
    void Notify(const char* text);

    const Settings& settings_;
    NotifierPort* port_ = nullptr;
    bool autoCutAsked_ = false;
};

}  // namespace kv
