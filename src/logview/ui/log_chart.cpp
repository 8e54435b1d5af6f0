// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/ui/log_chart.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace kv {
namespace {

constexpr int kMinSlot = 4;  // pixels per bar, gap included

QString KeyText(const logview::PeriodTotal& total) {
    return QString::fromStdString(total.key).trimmed();
}

}  // namespace

LogChart::LogChart(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Base));
    setPalette(colours);
}

void LogChart::SetTotals(std::vector<logview::PeriodTotal> totals) {
    totals_ = std::move(totals);
    update();
}

void LogChart::SetEmptyText(QString text) {
    emptyText_ = std::move(text);
    update();
}

void LogChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    const QRect area = rect().adjusted(6, 4, -6, -4);
    painter.setPen(palette().color(QPalette::Text));

    if (totals_.empty()) {
        shown_ = 0;
        scale_ = 0;
        painter.drawText(area, Qt::AlignCenter, emptyText_);
        return;
    }

    // The axis is as wide as the widest total needs, so the number of bars that fit does not
    // depend on which are shown; the scale is that of the bars shown, so one old long call
    // does not flatten the rest.
    int64_t widest = 0;
    for (const auto& total : totals_) widest = std::max(widest, total.units);
    const int axisWidth = metrics.horizontalAdvance(QString::number(widest)) + 6;
    const QRect plot(area.left() + axisWidth, area.top() + lineHeight + 4, area.width() - axisWidth,
                     area.height() - 2 * lineHeight - 8);
    if (plot.width() < kMinSlot || plot.height() < 4) return;

    const int count = static_cast<int>(std::min<size_t>(totals_.size(), 1u << 20));
    shown_ = std::min(count, plot.width() / kMinSlot);
    const double slot = static_cast<double>(plot.width()) / shown_;
    int64_t highest = 0;
    for (int index = 0; index < shown_; ++index)
        highest = std::max(highest, totals_[static_cast<size_t>(index)].units);
    scale_ = highest;
    const QString top = QString::number(highest);

    QString title = QStringLiteral("課金単位数");
    if (shown_ < count) title += QStringLiteral("（新しい%1件）").arg(shown_);
    painter.drawText(QRect(area.left(), area.top(), area.width(), lineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, title);

    painter.drawText(QRect(area.left(), plot.top() - lineHeight / 2, axisWidth - 4, lineHeight),
                     Qt::AlignRight | Qt::AlignVCenter, top);
    painter.drawText(QRect(area.left(), plot.bottom() - lineHeight / 2, axisWidth - 4, lineHeight),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DotLine));
    painter.drawLine(plot.topLeft(), plot.topRight());

    // Label every step-th bar counted from the newest, so labels never overlap.
    int labelWidth = 0;
    for (int index = 0; index < shown_; ++index) {
        labelWidth = std::max(
            labelWidth, metrics.horizontalAdvance(KeyText(totals_[static_cast<size_t>(index)])));
    }
    const int step = std::max(1, static_cast<int>((labelWidth + 8) / slot) + 1);

    const QColor barColour(0x3a, 0x6e, 0xa5);
    int freeUpTo = area.right() + 1;
    for (int index = 0; index < shown_; ++index) {
        const auto& total = totals_[static_cast<size_t>(index)];
        const int position = shown_ - 1 - index;  // newest at the right
        const int left = plot.left() + static_cast<int>(position * slot);
        const int width = std::max(1, static_cast<int>(slot * 0.8));
        if (highest > 0 && total.units > 0) {
            const int height = static_cast<int>(static_cast<double>(total.units) /
                                                static_cast<double>(highest) * plot.height());
            painter.fillRect(QRect(left, plot.bottom() - height + 1, width, height), barColour);
        }
        if (index % step == 0) {
            painter.setPen(palette().color(QPalette::Text));
            // Centred under the bar, kept inside the widget, dropped where it would run into
            // the label drawn to its right.
            const int boxWidth = labelWidth + 8;
            const int boxLeft =
                std::clamp(left + width / 2 - boxWidth / 2, area.left(), area.right() - boxWidth);
            if (boxLeft + boxWidth <= freeUpTo) {
                painter.drawText(QRect(boxLeft, plot.bottom() + 3, boxWidth, lineHeight),
                                 Qt::AlignHCenter | Qt::AlignTop, KeyText(total));
                freeUpTo = boxLeft;
            }
        }
    }
}

}  // namespace kv
