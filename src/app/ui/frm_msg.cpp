// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/frm_msg.h"

#include <QLabel>
#include <QScrollArea>

namespace kv {

FrmMSG::FrmMSG() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmMSG"));
    setWindowTitle(QStringLiteral("Information"));
    // A router's message can run to many lines: it scrolls, and the window can be made
    // larger.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("MsgScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LblMSG_ = new QLabel();
    LblMSG_->setObjectName(QStringLiteral("LblMSG"));
    LblMSG_->setWordWrap(true);
    LblMSG_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblMSG_->setTextFormat(Qt::PlainText);
    LblMSG_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LblMSG_->setMargin(4);
    scroll_->setWidget(LblMSG_);
    setMinimumSize(160, 60);
    resize(360, 160);
}

void FrmMSG::SetText(const QString& text) {
    LblMSG_->setText(text);
}

QString FrmMSG::Text() const {
    return LblMSG_->text();
}

void FrmMSG::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scroll_->setGeometry(0, 0, width(), height());
}

}  // namespace kv
