// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/ui/log_list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <climits>

namespace kv {

namespace {
constexpr int kMargin = 3;
}

LogListView::LogListView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(8);
    UpdateScrollBars();
}

void LogListView::SetRows(size_t count, RowText text) {
    text_ = std::move(text);
    count_ = count;
    current_ = -1;
    contentWidth_ = 0;
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void LogListView::SetRowCount(size_t count) {
    const size_t before = count_;
    count_ = count;
    UpdateScrollBars();
    // Only the rows on screen need painting, and only if the new ones reach the screen.
    if (before < TopRow() + static_cast<size_t>(VisibleRows())) viewport()->update();
}

QString LogListView::Row(size_t row) const {
    return row < count_ && text_ ? text_(row) : QString();
}

void LogListView::SetCurrentRow(long long row) {
    if (count_ == 0) {
        current_ = -1;
    } else {
        current_ = std::clamp<long long>(row, 0, static_cast<long long>(count_) - 1);
        // Brings the row on screen.
        const long long top = static_cast<long long>(TopRow());
        const long long visible = std::max(1, VisibleRows());
        if (current_ < top) {
            verticalScrollBar()->setValue(static_cast<int>(current_));
        } else if (current_ >= top + visible) {
            verticalScrollBar()->setValue(static_cast<int>(current_ - visible + 1));
        }
    }
    viewport()->update();
}

int LogListView::RowHeight() const {
    return std::max(1, fontMetrics().height());
}

qreal LogListView::TextX(const QString& text, int chars) const {
    return kMargin - horizontalScrollBar()->value() +
           QFontMetricsF(font()).horizontalAdvance(text.left(chars));
}

int LogListView::VisibleRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

size_t LogListView::TopRow() const {
    return static_cast<size_t>(std::max(0, verticalScrollBar()->value()));
}

void LogListView::UpdateScrollBars() {
    // The bar counts rows, not pixels, so any length fits its int.
    const long long rows = static_cast<long long>(std::min<size_t>(count_, INT_MAX));
    const int visible = VisibleRows();
    verticalScrollBar()->setRange(0, static_cast<int>(std::max<long long>(0, rows - visible)));
    verticalScrollBar()->setPageStep(visible);
    horizontalScrollBar()->setRange(0, std::max(0, contentWidth_ - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void LogListView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int height = RowHeight();
    const int left = kMargin - horizontalScrollBar()->value();
    const QPalette& colours = palette();
    const size_t top = TopRow();
    int widest = contentWidth_;
    for (int line = 0; line * height < viewport()->height(); ++line) {
        const size_t row = top + static_cast<size_t>(line);
        if (row >= count_) break;
        const QString text = text_ ? text_(row) : QString();
        const QRect band(0, line * height, viewport()->width(), height);
        if (static_cast<long long>(row) == current_) {
            painter.fillRect(band, colours.brush(QPalette::Highlight));
            painter.setPen(colours.color(QPalette::HighlightedText));
        } else {
            painter.setPen(colours.color(QPalette::Text));
        }
        painter.drawText(QRect(left, line * height, INT_MAX / 2, height),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        widest = std::max(widest, fontMetrics().horizontalAdvance(text) + 2 * kMargin);
    }
    if (widest != contentWidth_) {
        contentWidth_ = widest;
        UpdateScrollBars();
    }
}

void LogListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void LogListView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateScrollBars();
}

void LogListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        if (current_ >= 0) QApplication::clipboard()->setText(Row(static_cast<size_t>(current_)));
        return;
    }
    const long long page = VisibleRows();
    const long long last = static_cast<long long>(count_) - 1;
    switch (event->key()) {
        case Qt::Key_Up: SetCurrentRow(current_ < 0 ? 0 : current_ - 1); return;
        case Qt::Key_Down: SetCurrentRow(current_ + 1); return;
        case Qt::Key_PageUp: SetCurrentRow(std::max<long long>(0, current_ - page)); return;
        case Qt::Key_PageDown:
            SetCurrentRow(std::min(last, std::max(0LL, current_) + page));
            return;
        case Qt::Key_Home: SetCurrentRow(0); return;
        case Qt::Key_End: SetCurrentRow(last); return;
        default: QAbstractScrollArea::keyPressEvent(event);
    }
}

void LogListView::mousePressEvent(QMouseEvent* event) {
    const long long row =
        static_cast<long long>(TopRow()) + event->position().toPoint().y() / RowHeight();
    if (event->button() == Qt::LeftButton && row < static_cast<long long>(count_)) {
        SetCurrentRow(row);
    }
    QAbstractScrollArea::mousePressEvent(event);
}

}  // namespace kv
