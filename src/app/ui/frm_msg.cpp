// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/frm_msg.h"

#include <QLabel>

namespace kv {

FrmMSG::FrmMSG() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmMSG"));
    setWindowTitle(QStringLiteral("Information"));
    LblMSG_ = new QLabel(this);
    LblMSG_->setObjectName(QStringLiteral("LblMSG"));
    LblMSG_->setWordWrap(true);
    LblMSG_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblMSG_->setTextFormat(Qt::PlainText);
    resize(320, 90);
}

void FrmMSG::SetText(const QString& text) {
    LblMSG_->setText(text);
}

QString FrmMSG::Text() const {
    return LblMSG_->text();
}

void FrmMSG::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LblMSG_->setGeometry(0, 0, width(), height());
}

}  // namespace kv
