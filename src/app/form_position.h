// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Remembers where a window was and puts it back at the next start, as one text value
// "left top width height" in twips in the settings store. The rectangle is the window's frame,
// title bar and borders included.
#include <cstdint>
#include <string>
#include <vector>

#include "common/ports.h"
#include "app/view.h"

namespace kv {

// A window as the position store sees it. The Qt implementation for a QWidget is
// QtWindowPlacement (src/app/ui/qt_window_placement.h).
class WindowPlacementPort {
  public:
    struct PixelRect {
        int32_t left = 0, top = 0, right = 0, bottom = 0;
    };
    virtual ~WindowPlacementPort() = default;
    // The frame rectangle the window has, or would have when restored, in pixels.
    virtual PixelRect NormalRect() const = 0;
    // Puts the frame at this rectangle, in twips.
    virtual void Move(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    // The screens' areas free of panels, in pixels; the primary screen's first.
    virtual std::vector<PixelRect> WorkAreas() const = 0;
    virtual int32_t TwipsPerPixelX() const = 0;
    virtual int32_t TwipsPerPixelY() const = 0;
    virtual int32_t CurrentWidth() const = 0;   // twips
    virtual int32_t CurrentHeight() const = 0;  // twips
};

class clsSetFormPosition {
  public:
    // view shows the message about missing properties; it may be null (then nothing is shown,
    // and still nothing is read, written or moved).
    clsSetFormPosition(SettingsStore& store, MainView* view) : store_(store), view_(view) {}

    // Defaults in twips, used when nothing is stored (width/height 0: the window's own).
    void Height(int16_t v) { height_ = v; }
    void Left(int16_t v) { left_ = v; }
    void Top(int16_t v) { top_ = v; }
    void Width(int16_t v) { width_ = v; }
    void Form(WindowPlacementPort* window) { form_ = window; }
    void MainKey(const std::string& v) { mainKey_ = v; }
    void SubKey(const std::string& v) { subKey_ = v; }
    void ValueKey(const std::string& v) { valueKey_ = v; }

    void GetFormPosition();
    // Negative left/top are stored as 0. False when the store could not keep it.
    bool SetFormPosition();

    // The stored text's number fields: leading decimal number, 0 when there is none, clamped to
    // -32768..32767 (a window beyond 32767 twips is put at the edge, not wrapped around).
    static int16_t FieldValue(const std::string& field);
    static std::string FormatPosition(int64_t left, int64_t top, int64_t width, int64_t height);

    struct TwipsRect {
        int32_t left = 0, top = 0, width = 0, height = 0;
        bool operator==(const TwipsRect&) const = default;
    };
    // Where a stored rectangle is put so that the window can be seen and grabbed: a size below
    // half the default in either direction is not one the window was ever given (a bad value),
    // so the default size is used; the frame is kept inside the work area it overlaps most
    // (else the primary one), so its title bar is never under a panel or off the screen.
    static TwipsRect OnScreen(TwipsRect wanted, int32_t defaultWidth, int32_t defaultHeight,
                              const std::vector<WindowPlacementPort::PixelRect>& workAreas,
                              int32_t twipsPerPixelX, int32_t twipsPerPixelY);

  private:
    bool CheckProperties();

    SettingsStore& store_;
    MainView* view_;
    int16_t height_ = 0, left_ = 0, top_ = 0, width_ = 0;
    WindowPlacementPort* form_ = nullptr;
    std::string mainKey_, subKey_, valueKey_;
};

}  // namespace kv
