// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/ui/frm_log.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QLabel>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "logview/ui/log_chart.h"
#include "logview/ui/log_list_view.h"

namespace kv {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "logview_ui_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: torn down among the exit handlers, after Qt's own globals, it crashes.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string Tel(const std::string& date, const std::string& start, int units) {
    return "\"Connect\",\"" + date + "\",\"" + start + "\",-4,-2\r\n\"DisConnect\",\"" + date +
           "\",\"10:15:30\",\"00:15:27\",927," + std::to_string(units) + ",-4,-2\r\n\"Tel\",\"" +
           date + "\",\"" + start + "\",\"" + date + "\",\"10:15:30\",\"00:15:27\",927," +
           std::to_string(units) + ",-4,-2\r\n";
}

class FrmLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(folder_.isValid());
        logPath_ = QDir(folder_.path()).filePath(QStringLiteral("Kestrovan.log")).toStdString();
        std::ofstream(logPath_, std::ios::binary)
            << Tel("2026/11/30", "22:00:00", 5) << Tel("2026/12/06", "10:00:05", 4)
            << Tel("2026/12/06", "18:00:00", 3) << Tel("2026/12/07", "09:00:00", 2);
    }

    // Reading and writing go on beside the window; the tests look once they are done.
    static void Settle(FrmLog& window) {
        QElapsedTimer waited;
        waited.start();
        while (window.Busy() && waited.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        EXPECT_FALSE(window.Busy());
    }
    static void SettleCheck(FrmLog& window) {
        QElapsedTimer waited;
        waited.start();
        while (window.Checking() && waited.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        EXPECT_FALSE(window.Checking());
    }
    static QStringList Rows(FrmLog& window) {
        Settle(window);
        QStringList rows;
        for (size_t row = 0; row < window.RowCount(); ++row) rows << window.Row(row);
        return rows;
    }
    template <class W>
    static W* Child(FrmLog& window, const QString& name) {
        W* widget = window.findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    static QString Totals(const QString& key, const QString& units) {
        return key + QStringLiteral("|        |     |        |        |    |") + units +
               QStringLiteral("|");
    }

    QTemporaryDir folder_;
    std::string logPath_;
};

TEST_F(FrmLogTest, ControlsCarryTheirNamesAndTexts) {
    FrmLog window(logPath_);
    EXPECT_EQ(window.objectName(), QStringLiteral("FrmLog"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ログ表示"));
    EXPECT_EQ(Child<QGroupBox>(window, "Frame1")->title(), QStringLiteral("集計単位"));
    const QStringList options{"明細", "日毎集計", "月毎集計", "年毎集計"};
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(Child<QRadioButton>(window, QStringLiteral("OptSum%1").arg(index))->text(),
                  options[index]);
    }
    EXPECT_EQ(Child<QPushButton>(window, "CmdRedsp")->text(), QStringLiteral("再表示"));
    EXPECT_EQ(Child<QPushButton>(window, "cancel")->text(), QStringLiteral("閉じる"));
    EXPECT_EQ(Child<QPushButton>(window, "CmdCsv")->text(), QStringLiteral("CSV保存"));
    const QStringList headings{"開始日付", "開始時刻", "終了日付", "終了時刻",
                               "接続時間", "接続秒",   "課金",     "調整秒数"};
    for (int index = 0; index < 8; ++index) {
        EXPECT_EQ(Child<QLabel>(window, QStringLiteral("Label%1").arg(index + 1))->text(),
                  headings[index]);
    }
    // The columns line up only in a font whose half-width characters are all as wide.
    const QFontMetrics metrics(Child<LogListView>(window, "log_text")->font());
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("||||")),
              metrics.horizontalAdvance(QStringLiteral("2026")));
}

TEST_F(FrmLogTest, OptionsSwitchTheListAndTheChart) {
    FrmLog window(logPath_);
    // Opened as the detail list, newest call first.
    QStringList rows = Rows(window);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0],
              QStringLiteral("2026/12/07|09:00:00|12/07|10:15:30|00:15:27| 927|   2|  -4|  -2"));
    auto* chart = Child<LogChart>(window, "PicChart");
    EXPECT_EQ(chart->Totals().size(), 3u);  // the detail view charts the days

    auto* redisplay = Child<QPushButton>(window, "CmdRedsp");
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(Rows(window), (QStringList{Totals("2026/12/07", "   2"), Totals("2026/12/06", "   7"),
                                         Totals("2026/11/30", "   5")}));
    EXPECT_EQ(chart->Totals(), (std::vector<logview::PeriodTotal>{
                                   {"2026/12/07", 2}, {"2026/12/06", 7}, {"2026/11/30", 5}}));

    Child<QRadioButton>(window, "OptSum2")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(Rows(window),
              (QStringList{Totals("2026/12   ", "   9"), Totals("2026/11   ", "   5")}));
    EXPECT_EQ(chart->Totals().size(), 2u);

    Child<QRadioButton>(window, "OptSum3")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(Rows(window), QStringList{Totals("2026      ", "  14")});

    // With no option selected the button shows totals keyed by two characters.
    auto* last = Child<QRadioButton>(window, "OptSum3");
    last->setAutoExclusive(false);
    last->setChecked(false);
    redisplay->click();
    EXPECT_EQ(Rows(window), QStringList{Totals("20        ", "  14")});

    // A call finished while the window is open shows after the next redisplay, which starts
    // at the newest line whatever was scrolled before.
    std::ofstream log(logPath_, std::ios::binary | std::ios::app);
    for (int day = 10; day < 90; ++day) log << Tel("2027/01/01", "08:00:" + std::to_string(day), 1);
    log.close();
    Child<QRadioButton>(window, "OptSum0")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(Rows(window).size(), 84);
    window.resize(600, 300);
    window.show();
    QCoreApplication::processEvents();
    auto* list = Child<LogListView>(window, "log_text");
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    ASSERT_GT(list->verticalScrollBar()->value(), 0);
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    redisplay->click();
    Child<QRadioButton>(window, "OptSum0")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(window.Message(), QString());
}

// Each heading starts inside its column of the row at the top, in one type size: the detail
// list, a row with a seconds value over 9999 that pushes the later columns along, and the
// daily totals, whose units stand under "課金". Run at scale 1 and 2 (logview_ui_scaled).
TEST_F(FrmLogTest, HeadingsStandOverTheirColumns) {
    std::ofstream log(logPath_, std::ios::binary | std::ios::app);
    for (int call = 0; call < 40; ++call) log << Tel("2026/12/07", "12:00:00", 1);
    log << "\"Tel\",\"2026/12/08\",\"08:00:00\",\"2026/12/08\",\"11:00:00\",\"03:00:00\","
           "10800,123,-14,-2\r\n";
    log.close();
    FrmLog window(logPath_);
    window.show();
    LogListView* list = window.List();
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        const QString row = list->Row(list->FirstShownRow());
        std::vector<int> bars;
        for (int at = 0; at < row.size(); ++at)
            if (row[at] == QLatin1Char('|')) bars.push_back(at);
        ASSERT_GE(bars.size(), 7u) << row.toStdString();
        const qreal size = window.Heading(0)->font().pointSizeF();
        for (int index = 0; index < 8; ++index) {
            QLabel* heading = window.Heading(index);
            EXPECT_EQ(heading->font().pointSizeF(), size) << index;
            const int start = index == 0 ? 0 : bars[static_cast<size_t>(index) - 1] + 1;
            // The totals have no adjustment columns: the last heading keeps its usual width.
            const int end =
                index < 7 ? bars[static_cast<size_t>(index)] : std::max(int(row.size()), start + 9);
            const int x = list->viewport()->mapTo(&window, QPoint(0, 0)).x();
            const qreal left = x + list->TextX(row, start) - 1;
            const QString padded = row + QString(16, QLatin1Char(' '));
            const qreal right = x + list->TextX(padded, end);
            const int at = heading->mapTo(&window, QPoint(0, 0)).x();
            EXPECT_GE(at, left) << index << " " << row.toStdString();
            EXPECT_LT(at, right) << index << " " << row.toStdString();
            // Its text ends before the next column starts (over the "|" at most).
            const qreal next = x + list->TextX(padded, end + 1);
            EXPECT_LE(at + heading->fontMetrics().horizontalAdvance(heading->text()), next + 1)
                << index;
        }
    };
    Settle(window);
    ASSERT_TRUE(list->Row(0).startsWith(QStringLiteral("2026/12/08")));
    check("wide seconds");
    list->verticalScrollBar()->setValue(1);
    ASSERT_EQ(list->FirstShownRow(), 1u);
    QCoreApplication::processEvents();
    check("usual row");
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    Settle(window);
    check("daily totals");
    EXPECT_EQ(window.Heading(6)->text(), QStringLiteral("課金"));
}

// One old long call does not flatten the chart: its scale is the largest of the bars shown.
TEST_F(FrmLogTest, ChartIsScaledByTheBarsItShows) {
    std::vector<logview::PeriodTotal> totals;
    for (int day = 0; day < 400; ++day)
        totals.push_back({std::to_string(day), day == 399 ? 82 : 30});
    LogChart chart;
    chart.resize(400, 170);
    chart.SetTotals(totals);
    chart.grab();
    ASSERT_GT(chart.ShownBars(), 10);
    ASSERT_LT(chart.ShownBars(), 400);
    EXPECT_EQ(chart.Scale(), 30);
    totals[0].units = 40;
    chart.SetTotals(totals);
    chart.grab();
    EXPECT_EQ(chart.Scale(), 40);
}

TEST_F(FrmLogTest, CsvExportWritesWhatTheListShows) {
    FrmLog window(logPath_);
    const QString target = QDir(folder_.path()).filePath(QStringLiteral("出力.csv"));
    int asked = 0;
    window.SetSaveFileAsker([&](QWidget*) {
        ++asked;
        return asked == 1 ? QString() : target;
    });
    auto* save = Child<QPushButton>(window, "CmdCsv");
    Settle(window);
    save->click();  // cancelled in the dialog
    EXPECT_FALSE(QFile::exists(target));

    Child<QRadioButton>(window, "OptSum2")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    Settle(window);
    save->click();
    Settle(window);
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("2026/12,,,,,,9\r\n2026/11,,,,,,5\r\n"));
    EXPECT_TRUE(window.Message().startsWith(QStringLiteral("CSVファイルに保存しました")));
    EXPECT_EQ(Rows(window).size(), 2);  // the list is left as it was

    window.SetSaveFileAsker(
        [&](QWidget*) { return QDir(folder_.path()).filePath(QStringLiteral("無い/a.csv")); });
    save->click();
    Settle(window);
    EXPECT_TRUE(window.Message().startsWith(QStringLiteral("CSVファイルを保存できません")));
}

// The totals check is the program's to give: the button shows only when it does, and its
// answer shows under the list.
TEST_F(FrmLogTest, TotalsCheckButtonShowsTheProgramsAnswer) {
    FrmLog window(logPath_);
    auto* check = Child<QPushButton>(window, "CmdCheck");
    EXPECT_TRUE(check->isHidden());
    window.SetTotalsChecker([] {
        return FrmLog::TotalsCheckWork([](const std::atomic<bool>&, const FrmLog::ProgressReport&) {
            return std::string("当月累積  5     5\n一致しています\n");
        });
    });
    EXPECT_FALSE(check->isHidden());
    EXPECT_EQ(check->text(), QStringLiteral("累積確認"));
    check->click();
    SettleCheck(window);
    EXPECT_TRUE(window.Message().contains(QStringLiteral("一致しています")));
}

// The rebuild runs beside the window: the checker is asked on the window's thread, its work
// runs on another while the window shows its progress; pressing again or closing stops it,
// and only a finished check shows its answer.
TEST_F(FrmLogTest, TotalsCheckRunsBesideTheWindowAndStopsWhenAsked) {
    FrmLog window(logPath_);
    Settle(window);
    std::atomic<bool> release{false};
    std::atomic<int> runs{0}, stopped{0};
    std::atomic<QThread*> workThread{nullptr};
    QThread* askedOn = nullptr;
    window.SetTotalsChecker([&] {
        askedOn = QThread::currentThread();
        return FrmLog::TotalsCheckWork(
            [&](const std::atomic<bool>& cancel, const FrmLog::ProgressReport& progress) {
                workThread = QThread::currentThread();
                const std::string answer = "answer " + std::to_string(++runs);
                progress(1, 4);
                while (!cancel && !release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (cancel) ++stopped;
                return answer;
            });
    });
    auto* check = Child<QPushButton>(window, "CmdCheck");
    auto* bar = Child<QProgressBar>(window, "CheckProgress");
    QElapsedTimer clicked;
    clicked.start();
    check->click();
    EXPECT_LT(clicked.elapsed(), 100);
    while (bar->value() != 250 && clicked.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(bar->value(), 250);
    EXPECT_TRUE(window.Checking());
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(askedOn, QThread::currentThread());
    EXPECT_NE(workThread.load(), QThread::currentThread());

    check->click();  // again: stops, and nothing is shown
    EXPECT_FALSE(window.Checking());
    EXPECT_EQ(stopped, 1);
    EXPECT_TRUE(bar->isHidden());
    check->click();
    release = true;
    SettleCheck(window);
    EXPECT_EQ(window.Message(), QStringLiteral("answer 2"));

    release = false;
    check->click();
    window.close();  // closing stops it too
    EXPECT_FALSE(window.Checking());
    EXPECT_EQ(stopped, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.Message(), QStringLiteral("answer 2"));
}

TEST_F(FrmLogTest, MissingLogGivesAnEmptyListAndAMessage) {
    const std::string missing =
        QDir(folder_.path()).filePath(QStringLiteral("none.log")).toStdString();
    FrmLog window(missing);
    EXPECT_TRUE(Rows(window).isEmpty());
    EXPECT_EQ(window.Message(), QString::fromStdString("接続ログがありません: " + missing));
    EXPECT_TRUE(Child<LogChart>(window, "PicChart")->Totals().empty());
}

TEST_F(FrmLogTest, ShowLogViewerOpensAWindowThatGoesAwayOnClose) {
    QWidget owner;
    QPointer<FrmLog> window = ShowLogViewer(logPath_, &owner);
    ASSERT_FALSE(window.isNull());
    Settle(*window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isWindow());
    // Asked for again while open: the same window comes forward, the log is not read again.
    std::ofstream(logPath_, std::ios::binary | std::ios::app) << Tel("2026/12/08", "08:00:00", 1);
    EXPECT_EQ(ShowLogViewer(logPath_, &owner, {}, window.data()), window.data());
    EXPECT_EQ(owner.findChildren<QWidget*>(QStringLiteral("FrmLog")).size(), 1);
    EXPECT_EQ(Rows(*window).size(), 4);
    Child<QPushButton>(*window, "cancel")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

// Ten million rows cost the list nothing: it asks only for the rows it paints, and the keys
// and the scroll bar reach the last one.
TEST_F(FrmLogTest, ListAsksOnlyForTheRowsOnScreen) {
    LogListView list;
    list.resize(400, 200);
    size_t asked = 0;
    constexpr size_t kRows = 10000000;
    list.SetRows(kRows, [&asked](size_t row) {
        ++asked;
        return QString::number(row);
    });
    list.show();
    (void)list.grab();
    EXPECT_GT(asked, 0u);
    EXPECT_LT(asked, 50u);
    EXPECT_EQ(list.verticalScrollBar()->maximum(),
              static_cast<int>(kRows) - list.viewport()->height() / list.RowHeight());
    list.setFocus();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QCoreApplication::sendEvent(&list, &end);
    EXPECT_EQ(list.CurrentRow(), static_cast<long long>(kRows) - 1);
    EXPECT_EQ(list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum());
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QCoreApplication::sendEvent(&list, &up);
    EXPECT_EQ(list.CurrentRow(), static_cast<long long>(kRows) - 2);
    // More rows at the end keep the place; a new list starts at the top with nothing marked.
    list.SetRowCount(kRows + 5);
    EXPECT_EQ(list.CurrentRow(), static_cast<long long>(kRows) - 2);
    list.SetRows(3, [](size_t row) { return QString::number(row); });
    EXPECT_EQ(list.verticalScrollBar()->value(), 0);
    EXPECT_EQ(list.CurrentRow(), -1);
    EXPECT_EQ(list.Row(2), QStringLiteral("2"));
    EXPECT_EQ(list.Row(3), QString());
}

// A big log: the detail CSV is written in pieces from the log and matches the list; closing
// the window while it still reads stops the reading at once.
TEST_F(FrmLogTest, BigLogCsvAndClosingWhileReading) {
    {
        std::ofstream log(logPath_, std::ios::binary | std::ios::trunc);
        for (int call = 0; call < 30000; ++call) {
            log << Tel("2026/12/" + std::to_string(10 + call / 2500), "10:00:05", call % 9);
        }
    }
    FrmLog window(logPath_);
    const QString target = QDir(folder_.path()).filePath(QStringLiteral("big.csv"));
    window.SetSaveFileAsker([&](QWidget*) { return target; });
    Settle(window);
    ASSERT_EQ(window.RowCount(), 30000u);
    Child<QPushButton>(window, "CmdCsv")->click();
    Settle(window);
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    const std::string want = logview::CsvFromList(logview::DspLog1(logPath_).lines);
    EXPECT_EQ(csv.size(), static_cast<qsizetype>(want.size()));
    EXPECT_TRUE(csv == QByteArray::fromStdString(want));

    window.CmdRedsp_Click();
    EXPECT_TRUE(window.Busy());
    QElapsedTimer closing;
    closing.start();
    window.close();
    EXPECT_LT(closing.elapsed(), 200);
    EXPECT_FALSE(window.Busy());
    EXPECT_FALSE(window.findChild<QProgressBar*>(QStringLiteral("Progress"))->isVisible());
}

// Pictures for the documentation, made only when asked for (KV_SCREENSHOT_DIR).
TEST_F(FrmLogTest, Screenshots) {
    const QByteArray folder = qgetenv("KV_SCREENSHOT_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "KV_SCREENSHOT_DIR not set";
    std::ofstream log(logPath_, std::ios::binary | std::ios::trunc);
    int units = 3;
    for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= 28; day += 2) {
            char date[16];
            std::snprintf(date, sizeof date, "2026/%02d/%02d", month, day);
            for (int call = 0; call < 1 + (day * month) % 3; ++call) {
                log << Tel(date, "1" + std::to_string(call) + ":00:05", units);
                units = units % 9 + 1;
            }
        }
    }
    log.close();
    FrmLog window(logPath_);
    window.resize(820, 640);
    window.show();
    Settle(window);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-detail.png"));
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    Settle(window);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-daily.png"));
    Child<QRadioButton>(window, "OptSum2")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    Settle(window);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-monthly.png"));
    // "累積確認" under way: its bar under the button, the window free meanwhile.
    window.SetTotalsChecker([] {
        return [](const std::atomic<bool>& cancel, const FrmLog::ProgressReport& progress) {
            progress(40, 100);
            while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return std::string();
        };
    });
    Child<QPushButton>(window, "CmdCheck")->click();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-check.png"));
    window.close();
}

}  // namespace
}  // namespace kv
