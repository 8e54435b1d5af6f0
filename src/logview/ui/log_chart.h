// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A bar chart of unit totals beside the viewer's list: one bar per period, oldest on the
// left, newest on the right; when there are more periods than fit, the newest are shown.
#include <QString>
#include <QWidget>
#include <vector>

#include "logview/dsp_log.h"

namespace kv {

class LogChart : public QWidget {
  public:
    explicit LogChart(QWidget* parent = nullptr);
    // Totals in the list's order, newest first.
    void SetTotals(std::vector<logview::PeriodTotal> totals);
    const std::vector<logview::PeriodTotal>& Totals() const { return totals_; }
    // Shown instead of bars when there are no totals.
    void SetEmptyText(QString text);
    // How many of the newest totals the last paint could show.
    int ShownBars() const { return shown_; }
    // The total a full-height bar stands for in the last paint: the largest of those shown.
    int64_t Scale() const { return scale_; }
    QSize sizeHint() const override { return {600, 170}; }
    QSize minimumSizeHint() const override { return {200, 110}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<logview::PeriodTotal> totals_;
    QString emptyText_ = QStringLiteral("集計する通話がありません");
    int shown_ = 0;
    int64_t scale_ = 0;
};

}  // namespace kv
