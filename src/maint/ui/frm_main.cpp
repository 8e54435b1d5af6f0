// SPDX-License-Identifier: GPL-3.0-or-later
#include "maint/ui/frm_main.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt_message_box.h"

namespace kv::maint {

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumHeight(32);
    return b;
}

}  // namespace

FrmMain::FrmMain() {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("レジストリツール"));
    // The icon of the program whose settings it keeps.
    QIcon icon;
    for (const char* file : {":/icons/kestrovan_32.png", ":/icons/kestrovan_64.png"})
        icon.addFile(QString::fromLatin1(file));
    setWindowIcon(icon);

    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル"));
    mnuVer = file->addAction(QStringLiteral("バージョン"));
    mnuVer->setObjectName(QStringLiteral("mnuVer"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    Label1 = new QLabel(QStringLiteral("Kestrovan用レジストリ保守"), central);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    layout->addWidget(Label1);
    CmdSave = MakeButton(central, "CmdSave", "レジストリ情報の保存");
    CmdLoad = MakeButton(central, "CmdLoad", "レジストリ情報の読込");
    CmdDel = MakeButton(central, "CmdDel", "レジストリ情報の削除");
    CmdConv = MakeButton(central, "CmdConv", "Orlavine->Kestrovan変換");
    CmdEnd = MakeButton(central, "CmdEnd", "終了");
    for (QPushButton* b : {CmdSave, CmdLoad, CmdDel, CmdConv, CmdEnd}) layout->addWidget(b);
    CmdConv->setVisible(false);
    setCentralWidget(central);
    setMinimumWidth(280);

    connect(CmdSave, &QPushButton::clicked, this, &FrmMain::CmdSave_Click);
    connect(CmdLoad, &QPushButton::clicked, this, &FrmMain::CmdLoad_Click);
    connect(CmdDel, &QPushButton::clicked, this, &FrmMain::CmdDel_Click);
    connect(CmdConv, &QPushButton::clicked, this, &FrmMain::CmdConv_Click);
    connect(CmdEnd, &QPushButton::clicked, this, &FrmMain::CmdEnd_Click);
    connect(mnuVer, &QAction::triggered, this, &FrmMain::mnuVer_Click);
}

MsgResult FrmMain::MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                              MsgButtons buttons) {
    if (const std::optional<MsgResult> answer = LogInsteadOfShowing(text, title, buttons))
        return *answer;
    return ExecMessageBox(this, text, title, icon, buttons, /*topmost=*/false);
}

void FrmMain::SetConvVisible(bool visible) {
    CmdConv->setVisible(visible);
}

void FrmMain::EndProgram() {
    close();
    QApplication::quit();
}

void FrmMain::CmdSave_Click() {
    if (cx_) maint::CmdSave_Click(*cx_);
}
void FrmMain::CmdLoad_Click() {
    if (cx_) maint::CmdLoad_Click(*cx_);
}
void FrmMain::CmdDel_Click() {
    if (cx_) maint::CmdDel_Click(*cx_);
}
void FrmMain::CmdConv_Click() {
    if (cx_) maint::CmdConv_Click(*cx_);
}
void FrmMain::CmdEnd_Click() {
    if (cx_) maint::CmdEnd_Click(*cx_);
}
void FrmMain::mnuVer_Click() {
    if (cx_) maint::mnuVer_Click(*cx_);
}

}  // namespace kv::maint
