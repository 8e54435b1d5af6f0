// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt_message_box.h"

#include "platform/qt_text.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kv {

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

// A text taller than the screen (the debug summary with a long reply) scrolls inside the box,
// so its buttons stay on the screen.
void FitOnScreen(QMessageBox& box, QWidget* parent) {
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!screen || !label || !grid) return;
    // Room for the title bar and the frame the window manager adds.
    const int room = screen->availableGeometry().height() - 64;
    const int whole = box.sizeHint().height();
    if (whole <= room) return;
    const int index = grid->indexOf(label);
    if (index < 0) return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    grid->removeWidget(label);
    auto* area = new QScrollArea(&box);
    area->setObjectName(QStringLiteral("TextScroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int textWidth = label->sizeHint().width();
    area->setWidget(label);
    area->setWidgetResizable(true);
    area->setFixedWidth(textWidth + area->verticalScrollBar()->sizeHint().width() + 4);
    area->setFixedHeight(std::max(80, room - (whole - label->sizeHint().height())));
    grid->addWidget(area, row, column, rows, columns);
}

}  // namespace

MsgResult DefaultAnswer(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::YesNo: return MsgResult::Yes;
        case MsgButtons::YesNoDefaultNo: return MsgResult::No;
        case MsgButtons::Ok:
        case MsgButtons::OkCancel: break;
    }
    return MsgResult::Ok;
}

std::optional<MsgResult> LogInsteadOfShowing(const std::string& text, const std::string& title,
                                             MsgButtons buttons) {
    const char* log = std::getenv("KESTROVAN_MESSAGEBOX_LOG");
    if (!log || !*log) return std::nullopt;
    if (std::FILE* f = std::fopen(log, "ab")) {
        const std::string line = Escaped(title) + "\t" + Escaped(text) + "\n";
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    return DefaultAnswer(buttons);
}

MsgResult ExecMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                         MsgIcon icon, MsgButtons buttons, bool topmost) {
    QMessageBox box(parent);
    box.setWindowTitle(Q(title));
    box.setText(Q(text));
    switch (icon) {
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoDefaultNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(buttons == MsgButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
            break;
    }
    if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    FitOnScreen(box, parent);
    switch (box.exec()) {
        case QMessageBox::Ok: return MsgResult::Ok;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        case QMessageBox::Cancel: return MsgResult::Cancel;
        default:
            return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoDefaultNo
                       ? MsgResult::No
                   : buttons == MsgButtons::OkCancel ? MsgResult::Cancel
                                                     : MsgResult::Ok;
    }
}

}  // namespace kv
