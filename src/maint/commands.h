// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The handlers of Pelvaro's window. The window only forwards its events here.
#include <string>

#include "common/message_box.h"
#include "maint/maint_context.h"

namespace kv::maint {

// What the handlers need from the window.
class MaintView {
  public:
    virtual ~MaintView() = default;
    virtual MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) = 0;
    virtual void SetConvVisible(bool visible) = 0;
    virtual void EndProgram() = 0;
};

inline constexpr const char* kProgramTitle = "Pelvaro";
inline constexpr const char* kQuestionTitle = "確認";
inline constexpr const char* kAboutTitle = "ABOUT Pelvaro";
inline constexpr const char* kKestrovanRunningText =
    "Kestrovan が起動しています。Kestrovan は終了時に設定を書き戻すため、Kestrovan を終了してから"
    "実行してください。";
extern const char* const kAboutText;

// commandLine: the program's arguments joined by one space.
void Form_Load(MaintContext& cx, const std::string& commandLine);
// Each true when it did what was asked (the command line's exit status); the window ignores it.
bool CmdSave_Click(MaintContext& cx);
bool CmdLoad_Click(MaintContext& cx);
bool CmdDel_Click(MaintContext& cx);
bool CmdConv_Click(MaintContext& cx);
void CmdEnd_Click(MaintContext& cx);
void mnuVer_Click(MaintContext& cx);

// The conversion button shows only for this word, in any letter case.
bool IsUpgradeCommandLine(const std::string& commandLine);

}  // namespace kv::maint
