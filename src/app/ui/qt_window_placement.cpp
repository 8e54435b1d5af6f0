#include "app/ui/qt_window_placement.h"

#include <QWidget>
#include <algorithm>

namespace kv {

WindowPlacementPort::PixelRect QtWindowPlacement::NormalRect() const {
    // A maximised or minimised window reports the rectangle it has when restored.
    QRect r = window_->normalGeometry();
    if (r.isEmpty()) r = window_->geometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void QtWindowPlacement::Move(int32_t left, int32_t top, int32_t width, int32_t height) {
    // A stored size of 0 (a bad value) still leaves a window that can be grabbed.
    const int w = std::max(1, width / kTwipsPerPixel);
    const int h = std::max(1, height / kTwipsPerPixel);
    window_->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, w, h);
}

int32_t QtWindowPlacement::CurrentWidth() const {
    return window_->width() * kTwipsPerPixel;
}
int32_t QtWindowPlacement::CurrentHeight() const {
    return window_->height() * kTwipsPerPixel;
}

}  // namespace kv
