// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings dialog's view of the running program.
#include <functional>
#include <string>

#include "app/context.h"
#include "app/startup.h"
#include "settings/ui/frm_setup.h"

namespace kv {

class AppSetupHost : public SetupHost {
  public:
    explicit AppSetupHost(Context& cx) : cx_(cx) {}
    Settings& Record() override { return cx_.settings; }
    Trace& TraceFile() override { return cx_.trace; }
    std::optional<MsgResult> MessageBox(const std::string& text, const std::string& title,
                                        MsgIcon icon, MsgButtons buttons) override {
        return cx_.ports.view.MessageBox(text, title, icon, buttons);
    }
    void SetPolling(bool on) override {
        cx_.ports.tmrSOHO.SetEnabled(on);
        cx_.link.SetLinkReady(on);
    }
    void ApplyIntervals() override {
        cx_.ports.tmrDSP.SetInterval(cx_.settings.dspint);
        cx_.ports.tmrSOHO.SetInterval(cx_.settings.sohoint);
    }
    bool StoreRecord() override {
        const bool stored = RegCopy(cx_, RegCopyDirection::Store);
        // The tip follows its option at once, not at the next poll.
        cx_.ShowTrayState();
        std::string error;
        if (stored && SetLogonStart && !SetLogonStart(cx_.settings.autostart != 0, error))
            cx_.ports.view.MessageBox("ログオン時の起動を設定できませんでした:\n" + error, "",
                                      MsgIcon::Exclamation, MsgButtons::Ok);
        return stored;
    }
    std::string StoreError() override { return cx_.ports.store.LastError(); }
    // Makes the logon start follow the setting ("ログオン時に起動"); empty: left as it is.
    std::function<bool(bool on, std::string& error)> SetLogonStart;

  private:
    Context& cx_;
};

}  // namespace kv
