// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/qt_window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kv {

namespace {

// Wayland tells a client neither where its window is nor the frame before it is drawn.
bool OnWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace

QtWindowPlacement::QtWindowPlacement(QWidget* window) : window_(window) {
    window_->installEventFilter(this);
}

std::optional<QMargins> QtWindowPlacement::Frame() const {
    // Qt knows the frame only while the window is mapped; a hidden window keeps the last one.
    if (window_->isVisible()) {
        const QRect f = window_->frameGeometry();
        const QRect c = window_->geometry();
        const QMargins m(c.left() - f.left(), c.top() - f.top(), f.right() - c.right(),
                         f.bottom() - c.bottom());
        if (!m.isNull()) lastFrame_ = m;
    }
    if (lastFrame_.isNull()) return std::nullopt;
    return lastFrame_;
}

WindowPlacementPort::PixelRect QtWindowPlacement::NormalRect() const {
    // Not framed yet (never shown, or no window manager): the client area is where the frame
    // was put, at the frame's size. On Wayland a frame that never came to be fitted is not
    // known either: what was asked for stands, so the window does not grow start by start.
    if (pending_ && (!window_->isVisible() || OnWayland())) {
        const QRect& r = *pending_;
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    // A maximised or minimised window reports the rectangle it has when restored.
    const bool restored = !(window_->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
    QRect r = restored ? window_->geometry() : window_->normalGeometry();
    if (r.isEmpty()) r = window_->geometry();
    r = r.marginsAdded(Frame().value_or(QMargins()));
    // Where the window is cannot be known there: the place last given is kept.
    if (OnWayland() && asked_) r.moveTopLeft(asked_->topLeft());
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void QtWindowPlacement::Move(int32_t left, int32_t top, int32_t width, int32_t height) {
    const QRect frame(left / kTwipsPerPixel, top / kTwipsPerPixel,
                      std::max(1, width / kTwipsPerPixel), std::max(1, height / kTwipsPerPixel));
    pending_ = frame;
    asked_ = frame;
    // move() places the frame, title bar included; the size is the client area's, so until
    // the frame is known the client area takes the whole size and is fitted once framed.
    window_->move(frame.topLeft());
    window_->resize(frame.size().shrunkBy(Frame().value_or(QMargins())));
    if (window_->isVisible()) FitToFrame();
}

void QtWindowPlacement::FitToFrame() {
    if (!pending_) return;
    const std::optional<QMargins> m = Frame();
    if (!m) return;  // not framed yet, or no frame at all: the client area is the frame
    const QRect target = *pending_;
    pending_.reset();
    const QSize client = target.size().shrunkBy(*m);
    if (window_->size() != client) window_->resize(client);
    if (window_->frameGeometry().topLeft() != target.topLeft()) window_->move(target.topLeft());
}

bool QtWindowPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && pending_) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate: FitToFrame(); break;
            default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

std::vector<WindowPlacementPort::PixelRect> QtWindowPlacement::WorkAreas() const {
    std::vector<PixelRect> areas;
    QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* primary = QGuiApplication::primaryScreen();
    std::stable_partition(screens.begin(), screens.end(),
                          [primary](QScreen* s) { return s == primary; });
    for (QScreen* s : screens) {
        const QRect a = s->availableGeometry();
        if (!a.isEmpty())
            areas.push_back({a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
    }
    return areas;
}

int32_t QtWindowPlacement::CurrentWidth() const {
    const PixelRect r = NormalRect();
    return (r.right - r.left) * kTwipsPerPixel;
}
int32_t QtWindowPlacement::CurrentHeight() const {
    const PixelRect r = NormalRect();
    return (r.bottom - r.top) * kTwipsPerPixel;
}

}  // namespace kv
