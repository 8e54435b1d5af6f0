#pragma once
// A modal message box with the program's icon and button sets, shared by both programs'
// windows.
#include <string>

#include "common/view.h"

class QWidget;

namespace kv {

// Runs the box and returns the button pressed; closed without a button, the answer that does
// nothing (No, Cancel, or Ok). topmost keeps it above an always-on-top main window.
MsgResult ExecMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                         MsgIcon icon, MsgButtons buttons, bool topmost);

}  // namespace kv
