// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window on a big log, offscreen, in a process that stays up like the tray
// program: how soon the newest rows show, the longest time the event loop was held while the
// log was read, resident memory before, while and after the window is open, how long
// "累積確認" takes and the longest it held the event loop, and how quickly closing stops a
// reading under way. Prints one figure per line as "name value unit".
//
//   logview_ui_bench LOG CALLS
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "accounting/totals_check.h"
#include "logview/ui/frm_log.h"
#include "logview/ui/log_list_view.h"

namespace {

double RssMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void Figure(const char* name, double value, const char* unit) {
    std::printf("%-30s %.4g %s\n", name, value, unit);
}

void Settle(int ms) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: logview_ui_bench LOG CALLS\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string log = argv[1];
    const double calls = std::atof(argv[2]);

    // The tray program has shown the viewer before: fonts and styles are loaded.
    QTemporaryDir folder;
    const std::string small = folder.filePath(QStringLiteral("small.log")).toStdString();
    std::ofstream(small, std::ios::binary)
        << "\"Tel\",\"2026/12/06\",\"10:00:05\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,4,"
           "-4,-2\r\n";
    {
        kv::FrmLog warm(small);
        warm.show();
        Settle(200);
    }
    Settle(100);
    const double before = RssMb();

    // A timer that should tick every millisecond: the longest gap is the longest stall.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longest = 0;
    qint64 firstRows = -1;
    double peak = before;
    kv::FrmLog* window = nullptr;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
        if (firstRows < 0 && window != nullptr && window->RowCount() > 0) firstRows = now;
        peak = std::max(peak, RssMb());
    });
    clock.start();
    ticker.start();
    window = new kv::FrmLog(log);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(820, 640);
    window->show();
    const qint64 shown = clock.elapsed();
    longest = std::max(longest, shown);  // the constructor held the loop too
    lastTick = shown;
    while (window->Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 read = clock.elapsed();
    Settle(50);
    ticker.stop();
    const double open = RssMb();
    const size_t rows = window->RowCount();

    // "累積確認" on the whole log, with the settings the program would hand over.
    kv::Settings settings;
    settings.seca = 180;
    settings.secb = settings.secc = 240;
    settings.telstday = 1;
    settings.HolidayTable = kv::SplitHolidays(kv::kDefaultHolidays);
    const std::string data = folder.filePath(QStringLiteral("Kestrovan.dat")).toStdString();
    window->SetTotalsChecker([&] {
        return kv::FrmLog::TotalsCheckWork(
            [log, data, settings,
             now = kv::LocalTime{kv::Date{2026, 12, 7}, kv::TimeOfDay{12, 0, 0}}](
                const std::atomic<bool>& cancel, const kv::FrmLog::ProgressReport& progress) {
                const kv::TotalsCheck check =
                    kv::CheckTotals(log, data, settings, now, {progress, &cancel});
                return kv::FormatTotalsCheck(check, log, data, kv::CheckTextStyle::Html);
            });
    });
    longest = 0;
    const double peakBeforeCheck = peak;
    lastTick = clock.elapsed();
    ticker.start();
    const qint64 checkStart = clock.elapsed();
    window->CmdCheck_Click();
    longest = std::max(longest, clock.elapsed() - checkStart);  // the click held the loop too
    lastTick = clock.elapsed();
    while (window->Checking()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 checked = clock.elapsed() - checkStart;
    Settle(50);
    ticker.stop();
    const qint64 checkStall = longest;
    const double checkPeak = peak;
    peak = peakBeforeCheck;
    const bool checkShown = window->Message().contains(QStringLiteral("通話記録から"));

    // Scrolling to the oldest call paints rows from the far end of the file.
    auto* list = window->findChild<kv::LogListView*>(QStringLiteral("log_text"));
    QElapsedTimer scroll;
    scroll.start();
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    (void)window->grab();
    const qint64 scrolled = scroll.elapsed();

    window->close();
    Settle(200);
    const double after = RssMb();

    // Closed while it still reads: how long the close takes.
    QPointer<kv::FrmLog> again = new kv::FrmLog(log);
    again->setAttribute(Qt::WA_DeleteOnClose);
    again->show();
    Settle(30);
    const bool stillReading = again->Busy();
    QElapsedTimer closing;
    closing.start();
    again->close();
    const qint64 closed = closing.elapsed();
    Settle(100);

    Figure("first_rows_ms", static_cast<double>(firstRows), "ms");
    Figure("viewer_read_s", static_cast<double>(read) / 1000.0, "s");
    Figure("max_stall_ms", static_cast<double>(longest), "ms");
    Figure("viewer_rows", static_cast<double>(rows), "calls");
    Figure("rss_before_mb", before, "MB");
    Figure("rss_open_peak_mb", peak, "MB");
    Figure("rss_open_mb", open, "MB");
    Figure("rss_after_close_mb", after, "MB");
    Figure("rss_after_close_delta_mb", after - before, "MB");
    Figure("detail_bytes_per_call", (open - before) * 1048576.0 / calls, "B");
    Figure("scroll_to_oldest_ms", static_cast<double>(scrolled), "ms");
    if (stillReading) Figure("close_while_reading_ms", static_cast<double>(closed), "ms");
    Figure("check_totals_ui_s", static_cast<double>(checked) / 1000.0, "s");
    Figure("check_totals_max_stall_ms", static_cast<double>(checkStall), "ms");
    Figure("check_totals_ui_rss_peak_mb", checkPeak, "MB");
    return rows == static_cast<size_t>(calls) && again.isNull() && checkShown ? 0 : 1;
}
