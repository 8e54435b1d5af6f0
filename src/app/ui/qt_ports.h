// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window-side ports: the desktop shell, the program end, and message boxes that automated
// runs can record instead of showing.
#include <string>

#include "common/ports.h"
#include "app/view.h"

class QWidget;

namespace kv {

class QtShell : public Shell {
  public:
    bool Open(const std::string& urlOrPath) override;
    bool OpenWatched(const std::string& urlOrPath, std::function<void()> failedLater) override;
};

class QtProgramExit : public ProgramExit {
  public:
    [[noreturn]] void Exit(int code) override;
};

// When KESTROVAN_MESSAGEBOX_LOG names a file, boxes are not shown: each is appended to that file
// as one line "title<TAB>text" (line breaks in the text written as \n and \r) and answered
// with its default button. Otherwise a QMessageBox; an empty title means "Kestrovan".
MsgResult ShowMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                         MsgIcon icon, MsgButtons buttons);

}  // namespace kv
