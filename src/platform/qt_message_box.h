// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A modal message box with the program's icon and button sets, shared by both programs'
// windows.
#include <optional>
#include <string>

#include "common/message_box.h"

class QWidget;

namespace kv {

// Runs the box and returns the button pressed; closed without a button, the answer that does
// nothing (No, Cancel, or Ok). topmost keeps it above an always-on-top main window.
MsgResult ExecMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                         MsgIcon icon, MsgButtons buttons, bool topmost);

// The button a box answers with when nobody presses one.
MsgResult DefaultAnswer(MsgButtons buttons);
// When KESTROVAN_MESSAGEBOX_LOG names a file, a box is not shown: it is appended to that file
// as one line "title<TAB>text" (line breaks in the text written as \n and \r) and answered
// with its default button. nullopt: show it.
std::optional<MsgResult> LogInsteadOfShowing(const std::string& text, const std::string& title,
                                             MsgButtons buttons);

}  // namespace kv
