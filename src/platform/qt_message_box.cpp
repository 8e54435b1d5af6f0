#include "platform/qt_message_box.h"

#include "platform/qt_text.h"

#include <QMessageBox>

namespace kv {

namespace {}  // namespace

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
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
    }
    if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (box.exec()) {
        case QMessageBox::Ok: return MsgResult::Ok;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        case QMessageBox::Cancel: return MsgResult::Cancel;
        default:
            return buttons == MsgButtons::YesNo      ? MsgResult::No
                   : buttons == MsgButtons::OkCancel ? MsgResult::Cancel
                                                     : MsgResult::Ok;
    }
}

}  // namespace kv
