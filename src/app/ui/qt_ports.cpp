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

namespace {

MsgResult DefaultAnswer(MsgButtons buttons) {
    return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
}

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

}  // namespace

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
    if (const char* log = std::getenv("KESTROVAN_MESSAGEBOX_LOG"); log && *log) {
        if (std::FILE* f = std::fopen(log, "ab")) {
            const std::string line = Escaped(shownTitle) + "\t" + Escaped(text) + "\n";
            std::fwrite(line.data(), 1, line.size(), f);
            std::fclose(f);
        }
        return DefaultAnswer(buttons);
    }
    return ExecMessageBox(parent, text, shownTitle, icon, buttons, /*topmost=*/true);
}

}  // namespace kv
