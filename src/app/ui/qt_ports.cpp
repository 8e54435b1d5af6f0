#include "app/ui/qt_ports.h"

#include "platform/qt_text.h"

#include "platform/qt_message_box.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace kv {

bool QtShell::Open(const std::string& urlOrPath) {
    const QString target = Q(urlOrPath);
    // A local file (the help page) opens as a file URL; everything else is taken as a URL.
    if (!target.contains(QLatin1String("://")) && QFileInfo::exists(target))
        return QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    return QDesktopServices::openUrl(QUrl(target));
}

void QtProgramExit::Exit(int code) {
    // EndProgram has saved what must survive; leave without running any more handlers.
    std::fflush(nullptr);
    std::_Exit(code);
}

MsgResult ShowMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                         MsgIcon icon, MsgButtons buttons) {
    const std::string shownTitle = title.empty() ? std::string("Kestrovan") : title;
    if (const std::optional<MsgResult> answer = LogInsteadOfShowing(text, shownTitle, buttons))
        return *answer;
    return ExecMessageBox(parent, text, shownTitle, icon, buttons, /*topmost=*/true);
}

}  // namespace kv
