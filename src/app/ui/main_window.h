// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window "Kestrovan": read-outs, buttons, menus and status bar. It only forwards its
// events to the handlers in app/commands.h and app/startup.h and draws what the cores tell it.
#include <QMainWindow>
#include <array>
#include <functional>
#include <map>

#include "app/context.h"
#include "app/view.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QStatusBar;

namespace kv {

class FrmMSG;

class Kestrovan : public QMainWindow, public MainView {
  public:
    Kestrovan();
    ~Kestrovan() override;

    // The run whose handlers the window calls; attached before anything is shown.
    void Attach(Context& cx) { cx_ = &cx; }

    // MainView
    void SetLcdText(int lcd, const std::string& text) override;
    void SetLcdColour(int lcd, uint32_t colour) override;
    void SetFiguresLive(bool live) override;
    void SetLabelCaption(int label, const std::string& text) override;
    void SetWindowCaption(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void ShowMainWindow(bool restoreNormal) override;
    void HideMainWindow() override;
    void MinimizeMainWindow() override;
    void SetTopmost(bool on) override;
    void SetMenuChecked(MenuItem item, bool checked) override;
    bool MenuChecked(MenuItem item) const override;
    void SetCheckBox(CheckBox box, int value) override;
    void ShowCheckBox(CheckBox box, int value) override;
    int CheckBoxValue(CheckBox box) const override;
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override;
    void ShowNotice(const std::string& text, std::function<void()> silenced) override;
    void ShowMessageWindow() override;
    void CloseMessageWindow() override;
    void SetMessageText(const std::string& text) override;

    // The tray menu's check marks live in FrmMnu; it registers here to receive them.
    void SetTrayMenuCheckHandler(std::function<void(MenuItem, bool)> handler) {
        trayCheck_ = std::move(handler);
    }
    // Height of the client area in twips (the window is sized in whole pixels).
    void SetClientHeightTwips(int twips);
    FrmMSG* MessageWindow() const { return msg_; }
    static int TwipsToPixels(int twips);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void BuildMenus();
    QLabel* MakeLcd(int n, int left, int top, int width, int height, const char* tip);
    QLabel* MakeLabel(const char* name, const char* text, int left, int top, int width, int height);
    void MakeSeparator(int n, int top);
    void ApplyLcdStyle(int n);
    void FitLabel(QLabel* label);

    Context& Cx() { return *cx_; }

    Context* cx_ = nullptr;
    std::array<QLabel*, 12> lcd_{};
    std::array<uint32_t, 12> lcdColour_{};
    bool live_ = true;
    std::map<int, QLabel*> labels_;
    QPushButton* btnConnect_ = nullptr;
    QPushButton* btnDisConnect_ = nullptr;
    QPushButton* btnSize_ = nullptr;
    QPushButton* btnMsg_ = nullptr;
    QPushButton* btnDebug_ = nullptr;
    QCheckBox* chkAutoMode_ = nullptr;
    QCheckBox* chkTopDsp_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QAction* mnuCutBrk_ = nullptr;
    QAction* mnuWinend_ = nullptr;
    std::map<MenuItem, bool> trayChecks_;
    std::function<void(MenuItem, bool)> trayCheck_;
    FrmMSG* msg_ = nullptr;
};

}  // namespace kv
