// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/qt_ports.h"

#include "platform/qt_text.h"

#include "platform/qt_message_box.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace kv {

namespace {

// A local file (the help page) opens as a file URL; everything else is taken as a URL.
QUrl TargetUrl(const std::string& urlOrPath) {
    const QString target = Q(urlOrPath);
    if (!target.contains(QLatin1String("://")) && QFileInfo::exists(target))
        return QUrl::fromLocalFile(target);
    return QUrl(target);
}

}  // namespace

bool QtShell::Open(const std::string& urlOrPath) {
    return QDesktopServices::openUrl(TargetUrl(urlOrPath));
}

bool QtShell::OpenWatched(const std::string& urlOrPath, std::function<void()> failedLater) {
    // Qt's own opener only says whether xdg-open could be started, not whether it found a
    // program; run it here to hear its answer. It may run as long as the browser it starts, so
    // the answer is awaited on the event loop.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return Open(urlOrPath);
    auto* process = new QProcess();
    process->setProgram(opener);
    process->setArguments({TargetUrl(urlOrPath).toString(QUrl::FullyEncoded)});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished,
                     [process, failedLater](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status != QProcess::NormalExit || code != 0) failedLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) process->deleteLater();
    });
    process->start();
    if (!process->waitForStarted(5000)) return false;
    return true;
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
