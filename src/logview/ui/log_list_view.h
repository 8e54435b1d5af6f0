// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list of text rows that asks for a row only when it is on screen and keeps nothing per
// row, so ten million calls scroll like ten. Qt's item views keep a position for every row
// and lay them all out again as rows arrive, which freezes the window for seconds.
#include <QAbstractScrollArea>
#include <QString>
#include <cstddef>
#include <functional>

namespace kv {

class LogListView : public QAbstractScrollArea {
  public:
    using RowText = std::function<QString(size_t row)>;
    explicit LogListView(QWidget* parent = nullptr);

    // A new list of count rows, shown from its first row.
    void SetRows(size_t count, RowText text);
    // More rows at the end of the list; what is on screen stays where it is.
    void SetRowCount(size_t count);
    size_t RowCount() const { return count_; }
    QString Row(size_t row) const;
    // The row marked by a click or the keys, -1 when none is.
    long long CurrentRow() const { return current_; }
    void SetCurrentRow(long long row);
    int RowHeight() const;
    // The row at the top of the list as it is scrolled.
    size_t FirstShownRow() const { return TopRow(); }
    // Where the character at index chars of text starts when drawn as a row, in the
    // viewport's pixels (the horizontal scrolling included).
    qreal TextX(const QString& text, int chars) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void UpdateScrollBars();
    int VisibleRows() const;
    size_t TopRow() const;

    size_t count_ = 0;
    RowText text_;
    long long current_ = -1;
    int contentWidth_ = 0;  // the widest row painted so far
};

}  // namespace kv
