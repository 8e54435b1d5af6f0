#include "logview/ui/frm_log.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <fstream>

#include "logview/ui/log_chart.h"

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

    static QStringList Rows(FrmLog& window) {
        const auto* list = window.findChild<QListView*>(QStringLiteral("log_text"));
        QStringList rows;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            rows << list->model()->index(row, 0).data().toString();
        }
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
    const QFontMetrics metrics(Child<QListView>(window, "log_text")->font());
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
    auto* list = Child<QListView>(window, "log_text");
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    ASSERT_GT(list->verticalScrollBar()->value(), 0);
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    redisplay->click();
    Child<QRadioButton>(window, "OptSum0")->setChecked(true);
    redisplay->click();
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(window.Message(), QString());
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
    save->click();  // cancelled in the dialog
    EXPECT_FALSE(QFile::exists(target));

    Child<QRadioButton>(window, "OptSum2")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    save->click();
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("2026/12,,,,,,9\r\n2026/11,,,,,,5\r\n"));
    EXPECT_TRUE(window.Message().startsWith(QStringLiteral("CSVファイルに保存しました")));
    EXPECT_EQ(Rows(window).size(), 2);  // the list is left as it was

    window.SetSaveFileAsker(
        [&](QWidget*) { return QDir(folder_.path()).filePath(QStringLiteral("無い/a.csv")); });
    save->click();
    EXPECT_TRUE(window.Message().startsWith(QStringLiteral("CSVファイルを保存できません")));
}

// The totals check is the program's to give: the button shows only when it does, and its
// answer shows under the list.
TEST_F(FrmLogTest, TotalsCheckButtonShowsTheProgramsAnswer) {
    FrmLog window(logPath_);
    auto* check = Child<QPushButton>(window, "CmdCheck");
    EXPECT_TRUE(check->isHidden());
    window.SetTotalsChecker([] { return std::string("当月累積  5     5\n一致しています\n"); });
    EXPECT_FALSE(check->isHidden());
    EXPECT_EQ(check->text(), QStringLiteral("累積確認"));
    check->click();
    EXPECT_TRUE(window.Message().contains(QStringLiteral("一致しています")));
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
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-detail.png"));
    Child<QRadioButton>(window, "OptSum1")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-daily.png"));
    Child<QRadioButton>(window, "OptSum2")->setChecked(true);
    Child<QPushButton>(window, "CmdRedsp")->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/logview-monthly.png"));
}

}  // namespace
}  // namespace kv
