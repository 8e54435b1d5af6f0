#pragma once
// The position store's view of a top-level QWidget (goes into kestrovan_ui). Positions are the
// client area's, saved and restored alike, at 15 twips per pixel.
#include "app/form_position.h"

class QWidget;

namespace kv {

class QtWindowPlacement : public WindowPlacementPort {
  public:
    static constexpr int32_t kTwipsPerPixel = 15;
    explicit QtWindowPlacement(QWidget* window) : window_(window) {}

    PixelRect NormalRect() const override;
    void Move(int32_t left, int32_t top, int32_t width, int32_t height) override;
    int32_t TwipsPerPixelX() const override { return kTwipsPerPixel; }
    int32_t TwipsPerPixelY() const override { return kTwipsPerPixel; }
    int32_t CurrentWidth() const override;
    int32_t CurrentHeight() const override;

  private:
    QWidget* window_;
};

}  // namespace kv
