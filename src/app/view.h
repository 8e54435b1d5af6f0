// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's surface as the program drives it. The main window (src/app/ui) implements
// it; tests use RecordingView (tests/support). The link and the meter never see it: they
// publish their state and the program puts it here. All texts are UTF-8.
#include <cstdint>
#include <functional>
#include <string>

#include "common/message_box.h"
#include "common/trace.h"

namespace kv {

// Colours as the system keeps them: blue, green, red bytes from high to low.
inline constexpr uint32_t kColourGreen = 65280;
inline constexpr uint32_t kColourRed = 255;
inline constexpr uint32_t kColourYellow = 65535;
// Figures that are not live (the router is away).
inline constexpr uint32_t kColourGrey = 0x808080;

enum class MenuItem {
    MainCutBrk,  // main window "自動切断一時解除"
    TrayCutBrk,  // tray menu "自動切断一時解除"
    TrayRight3,  // tray menu "接続抑制"
    MainWinend,  // main window "切断後Win終了"
};

enum class CheckBox {
    ChkAutoMode,  // setting it to a new value runs ChkAutoMode_Click, as a click would
    ChkTopDsp,    // likewise runs ChkTopDsp_Click
};

class MainView : public StatusLine {
  public:
    // Read-outs LCD0 .. LCD11.
    virtual void SetLcdText(int lcd, const std::string& text) = 0;
    virtual void SetLcdColour(int lcd, uint32_t colour) = 0;
    // Not live (the router is away): every read-out greys, keeping the colour it shows again.
    virtual void SetFiguresLive(bool live) = 0;
    // Labels Lbl2 .. Lbl7 (only Lbl3 changes at run time).
    virtual void SetLabelCaption(int label, const std::string& text) = 0;
    virtual void SetWindowCaption(const std::string& text) = 0;
    void SetStatusText(const std::string& text) override = 0;

    virtual void ShowMainWindow(bool restoreNormal) = 0;
    virtual void HideMainWindow() = 0;
    // To the task bar: where no tray icon could bring a hidden window back.
    virtual void MinimizeMainWindow() = 0;
    virtual void SetTopmost(bool on) = 0;

    virtual void SetMenuChecked(MenuItem item, bool checked) = 0;
    virtual bool MenuChecked(MenuItem item) const = 0;
    virtual void SetCheckBox(CheckBox box, int value) = 0;
    // Shows the value without running the click handler (the program showing its settings).
    virtual void ShowCheckBox(CheckBox box, int value) = 0;
    virtual int CheckBoxValue(CheckBox box) const = 0;

    // Modal; title "" means the program's default title.
    virtual MsgResult MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) = 0;
    // Information that must not hold anything up: a box that does not wait for its answer,
    // with "次回から表示しない"; silenced runs when the user closes it with that ticked.
    virtual void ShowNotice(const std::string& text, std::function<void()> silenced) = 0;

    // The message window FrmMSG (topmost, one label).
    virtual void ShowMessageWindow() = 0;
    virtual void CloseMessageWindow() = 0;
    virtual void SetMessageText(const std::string& text) = 0;
};

}  // namespace kv
