// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message window "Information": one label filling it, always on top.
#include <QWidget>

class QLabel;
class QScrollArea;

namespace kv {

class FrmMSG : public QWidget {
  public:
    FrmMSG();
    void SetText(const QString& text);
    QString Text() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QScrollArea* scroll_;
    QLabel* LblMSG_;
};

}  // namespace kv
