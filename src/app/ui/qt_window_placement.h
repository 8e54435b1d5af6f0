// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The position store's view of a top-level QWidget (goes into kestrovan_ui). Positions are the
// frame's, title bar included, saved and restored alike, at 15 twips per pixel.
#include <QMargins>
#include <QObject>
#include <QRect>
#include <optional>

#include "app/form_position.h"

class QWidget;

namespace kv {

class QtWindowPlacement : public QObject, public WindowPlacementPort {
  public:
    static constexpr int32_t kTwipsPerPixel = 15;
    explicit QtWindowPlacement(QWidget* window);

    PixelRect NormalRect() const override;
    void Move(int32_t left, int32_t top, int32_t width, int32_t height) override;
    std::vector<PixelRect> WorkAreas() const override;
    int32_t TwipsPerPixelX() const override { return kTwipsPerPixel; }
    int32_t TwipsPerPixelY() const override { return kTwipsPerPixel; }
    int32_t CurrentWidth() const override;
    int32_t CurrentHeight() const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The window manager's frame around the client area; nothing before it has framed the
    // window once.
    std::optional<QMargins> Frame() const;
    void FitToFrame();

    QWidget* window_;
    // The frame asked for by Move, until the window manager has framed the window and the
    // client area has been sized to fit inside it.
    std::optional<QRect> pending_;
    std::optional<QRect> asked_;  // the last frame asked for
    mutable QMargins lastFrame_;
};

}  // namespace kv
