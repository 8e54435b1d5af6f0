// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QMainWindow>

#include "maint/commands.h"

class QLabel;
class QPushButton;
class QAction;

namespace kv::maint {

// Pelvaro's only window. Every event goes straight to the handlers in commands.h.
class FrmMain : public QMainWindow, public MaintView {
  public:
    FrmMain();
    // The context refers to this window as its view, so it is attached after construction.
    void Attach(MaintContext& cx) { cx_ = &cx; }

    MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override;
    void SetConvVisible(bool visible) override;
    void EndProgram() override;

    QPushButton* CmdSave = nullptr;
    QPushButton* CmdLoad = nullptr;
    QPushButton* CmdDel = nullptr;
    QPushButton* CmdEnd = nullptr;
    QPushButton* CmdConv = nullptr;
    QAction* mnuVer = nullptr;

  private:
    void CmdSave_Click();
    void CmdLoad_Click();
    void CmdDel_Click();
    void CmdConv_Click();
    void CmdEnd_Click();
    void mnuVer_Click();

    MaintContext* cx_ = nullptr;
    QLabel* Label1 = nullptr;
};

}  // namespace kv::maint
