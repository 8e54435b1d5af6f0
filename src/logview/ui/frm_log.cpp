// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/ui/frm_log.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "common/cp932.h"
#include "logview/ui/log_chart.h"
#include "logview/ui/log_list_view.h"

namespace kv {

// What a job's thread hands to the window. The window takes it in on its own thread.
struct FrmLog::Job {
    std::atomic<bool> cancel{false};
    std::atomic<bool> posted{false};
    std::mutex mutex;
    // Guarded by mutex:
    std::vector<uint64_t> rows;  // found, not yet listed
    uint64_t done = 0;
    uint64_t total = 0;
    bool finished = false;
    bool csv = false;
    logview::ScanResult scan;
    QString csvMessage;
    std::string checkText;

    std::thread thread;
};

namespace {

QFont LogFont() {
    const QStringList families = QFontDatabase::families();
    for (const QString& name :
         {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP")}) {
        if (families.contains(name)) {
            QFont font(name, 10);
            font.setStyleHint(QFont::Monospace);
            return font;
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

struct Column {
    const char* name;
    const char* text;
    int start;  // in characters of the list font
    int width;
};

// Above the columns of a detail line; the last heading covers both adjustment columns.
constexpr std::array<Column, 8> kColumns{{
    {"Label1", "開始日付", 0, 10},
    {"Label2", "開始時刻", 11, 8},
    {"Label3", "終了日付", 20, 5},
    {"Label4", "終了時刻", 26, 8},
    {"Label5", "接続時間", 35, 8},
    {"Label6", "接続秒", 44, 4},
    {"Label7", "課金", 49, 4},
    {"Label8", "調整秒数", 54, 9},
}};
constexpr int kLineChars = 63;
// The CSV file is written in pieces of about this size.
constexpr size_t kCsvPieceBytes = size_t{1} << 20;

// A big log leaves its list's memory free but kept by the allocator; the tray program runs
// for days, so it goes back to the system when the window closes.
void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace

FrmLog::FrmLog(std::string logPath, QWidget* parent)
    : QWidget(parent, Qt::Window), logPath_(std::move(logPath)) {
    setObjectName(QStringLiteral("FrmLog"));
    setWindowTitle(QStringLiteral("ログ表示"));

    const QFont listFont = LogFont();
    const QFontMetrics listMetrics(listFont);
    const int charWidth = listMetrics.horizontalAdvance(QLatin1Char('0'));

    log_text = new LogListView(this);
    log_text->setObjectName(QStringLiteral("log_text"));
    log_text->setFont(listFont);
    const int listLeft = log_text->frameWidth() + 3;
    log_text->setMinimumWidth(listLeft + (kLineChars + 3) * charWidth +
                              log_text->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    // One type size for every heading: the largest that lets each fit over its column.
    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("Header"));
    QFont labelFont = listFont;
    const QFontMetricsF listMetricsF(listFont);
    for (bool fits = false; !fits && labelFont.pointSizeF() > 5;) {
        fits = true;
        for (const Column& column : kColumns) {
            const qreal room =
                listMetricsF.horizontalAdvance(QString(column.width + 1, QLatin1Char('0'))) - 2;
            if (QFontMetricsF(labelFont).horizontalAdvance(QString::fromUtf8(column.text)) > room)
                fits = false;
        }
        if (!fits) labelFont.setPointSizeF(labelFont.pointSizeF() - 0.5);
    }
    const int headerHeight = std::max(QFontMetrics(labelFont).height(), listMetrics.height()) + 2;
    for (size_t index = 0; index < kColumns.size(); ++index) {
        auto* label = new QLabel(QString::fromUtf8(kColumns[index].text), header_);
        label->setObjectName(QString::fromLatin1(kColumns[index].name));
        label->setFont(labelFont);
        label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        headings_[index] = label;
    }
    header_->setFixedHeight(headerHeight);
    // The headings follow the columns of the row at the top: a wide number there moves them.
    for (QScrollBar* bar : {log_text->verticalScrollBar(), log_text->horizontalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, &FrmLog::PlaceHeadings);

    Frame1 = new QGroupBox(QStringLiteral("集計単位"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* frameLayout = new QVBoxLayout(Frame1);
    const std::array<const char*, 4> optionTexts{"明細", "日毎集計", "月毎集計", "年毎集計"};
    for (size_t index = 0; index < OptSum.size(); ++index) {
        OptSum[index] = new QRadioButton(QString::fromUtf8(optionTexts[index]), Frame1);
        OptSum[index]->setObjectName(QStringLiteral("OptSum%1").arg(index));
        frameLayout->addWidget(OptSum[index]);
    }
    OptSum[0]->setChecked(true);  // the list opens as the detail list

    CmdRedsp = new QPushButton(QStringLiteral("再表示"), this);
    CmdRedsp->setObjectName(QStringLiteral("CmdRedsp"));
    CmdCsv = new QPushButton(QStringLiteral("CSV保存"), this);
    CmdCsv->setObjectName(QStringLiteral("CmdCsv"));
    CmdCheck = new QPushButton(QStringLiteral("累積確認"), this);
    CmdCheck->setObjectName(QStringLiteral("CmdCheck"));
    CmdCheck->setToolTip(QStringLiteral("累積ファイルを通話記録から数え直した値と比べます"));
    CmdCheck->hide();
    CheckProgress = new QProgressBar(this);
    CheckProgress->setObjectName(QStringLiteral("CheckProgress"));
    CheckProgress->setRange(0, 1000);
    CheckProgress->setTextVisible(false);
    CheckProgress->setMaximumHeight(listMetrics.height() / 2 + 4);
    CheckProgress->hide();
    cancel = new QPushButton(QStringLiteral("閉じる"), this);
    cancel->setObjectName(QStringLiteral("cancel"));

    PicChart = new LogChart(this);
    PicChart->setObjectName(QStringLiteral("PicChart"));
    LblMessage = new QLabel(this);
    LblMessage->setObjectName(QStringLiteral("LblMessage"));
    LblMessage->setWordWrap(true);
    LblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, 1000);
    Progress->setTextVisible(false);
    Progress->setMaximumHeight(listMetrics.height() / 2 + 4);
    Progress->hide();

    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    left->addWidget(header_);
    left->addWidget(log_text, 3);
    left->addWidget(PicChart, 1);
    left->addWidget(Progress);
    left->addWidget(LblMessage);
    auto* right = new QVBoxLayout;
    right->addWidget(Frame1);
    right->addWidget(CmdRedsp);
    right->addWidget(CmdCsv);
    right->addWidget(CmdCheck);
    right->addWidget(CheckProgress);
    right->addStretch(1);
    right->addWidget(cancel);
    auto* whole = new QHBoxLayout(this);
    whole->addLayout(left, 1);
    whole->addLayout(right);
    resize(log_text->minimumWidth() + 160, 600);

    connect(CmdRedsp, &QPushButton::clicked, this, &FrmLog::CmdRedsp_Click);
    connect(CmdCsv, &QPushButton::clicked, this, &FrmLog::CmdCsv_Click);
    connect(cancel, &QPushButton::clicked, this, &FrmLog::Cancel_Click);
    connect(CmdCheck, &QPushButton::clicked, this, &FrmLog::CmdCheck_Click);

    Form_Load();
}

FrmLog::~FrmLog() {
    StopJob();
    StopCheck();
    file_.reset();
    index_ = {};
    totalsLines_ = {};
    ReleaseFreeMemory();
}

void FrmLog::closeEvent(QCloseEvent* event) {
    // Nothing goes on reading for a window no one sees.
    StopJob();
    StopCheck();
    QWidget::closeEvent(event);
}

void FrmLog::Form_Load() {
    DspLog1();
}

void FrmLog::CmdRedsp_Click() {
    std::array<bool, 4> selected{};
    for (size_t index = 0; index < OptSum.size(); ++index)
        selected[index] = OptSum[index]->isChecked();
    const int index = logview::SelectedSumIndex(selected);
    if (index == 0) {
        DspLog1();
    } else {
        DspLog2(index);
    }
}

void FrmLog::Cancel_Click() {
    close();
}

void FrmLog::DspLog1() {
    StartReading(0);
}

void FrmLog::PlaceHeadings() {
    const QString row =
        log_text->RowCount() > 0 ? log_text->Row(log_text->FirstShownRow()) : QString();
    std::vector<int> bars;
    for (int at = 0; at < row.size(); ++at)
        if (row[at] == QLatin1Char('|')) bars.push_back(at);
    // A row without all its columns (none yet, or a line cut short): the usual widths.
    const bool usual = bars.size() + 1 < kColumns.size();
    QString shape = usual ? QString(kLineChars, QLatin1Char('0')) : row;
    shape = shape.leftJustified(std::max(static_cast<int>(shape.size()), kLineChars) + 10);
    const int origin = log_text->viewport()->mapTo(this, QPoint(0, 0)).x() -
                       header_->mapTo(this, QPoint(0, 0)).x();
    for (size_t index = 0; index < kColumns.size(); ++index) {
        int start = kColumns[index].start;
        int end = index + 1 < kColumns.size() ? start + kColumns[index].width : kLineChars;
        if (!usual) {
            start = index == 0 ? 0 : bars[index - 1] + 1;
            // The last heading stands over both adjustment columns; the totals have none, and
            // it keeps its usual width there.
            end = index + 1 < kColumns.size()
                      ? bars[index]
                      : std::max(static_cast<int>(row.size()), start + kColumns[index].width);
        }
        // The heading may run over the "|" that ends its column, not into the next column.
        const int left = origin + qRound(log_text->TextX(shape, start));
        const int right = origin + qRound(log_text->TextX(shape, end + 1));
        headings_[index]->setGeometry(left, 0, std::max(1, right - left), header_->height());
    }
}

void FrmLog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceHeadings();
}

void FrmLog::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    PlaceHeadings();
}

void FrmLog::DspLog2(int kind) {
    StartReading(kind);
}

void FrmLog::StartReading(int kind) {
    StopJob();
    detail_ = kind == 0;
    index_ = {};
    totalsLines_ = {};
    file_ = detail_ ? std::make_unique<logview::LogFile>(logPath_) : nullptr;
    ReleaseFreeMemory();
    // Newest first: a new display starts at its first line, whatever was scrolled before.
    log_text->SetRows(0, [this](size_t row) {
        const std::string bytes = RowBytes(row);
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    });
    PicChart->SetTotals({});
    PlaceHeadings();
    LblMessage->clear();
    StartJob([this, kind, path = logPath_](Job& job) {
        logview::ScanControl control;
        control.cancelled = &job.cancel;
        control.onRows = [this, &job](const uint64_t* offsets, size_t count) {
            {
                const std::lock_guard<std::mutex> lock(job.mutex);
                job.rows.insert(job.rows.end(), offsets, offsets + count);
            }
            Post(job);
        };
        control.onProgress = [this, &job](uint64_t done, uint64_t total) {
            {
                const std::lock_guard<std::mutex> lock(job.mutex);
                job.done = done;
                job.total = total;
            }
            Post(job);
        };
        logview::ScanResult scan = logview::ScanLog(path, kind, control);
        const std::lock_guard<std::mutex> lock(job.mutex);
        job.scan = std::move(scan);
    });
}

std::string FrmLog::RowBytes(size_t row) const {
    if (!detail_) return row < totalsLines_.size() ? std::string(totalsLines_[row]) : std::string();
    if (row >= index_.size() || !file_) return {};
    return logview::DetailRowAt(*file_, index_[row]);
}

size_t FrmLog::RowCount() const {
    return log_text->RowCount();
}

QString FrmLog::Row(size_t row) const {
    return log_text->Row(row);
}

QString FrmLog::Message() const {
    return LblMessage->text();
}

void FrmLog::CmdCsv_Click() {
    if (Busy()) return;
    QString path;
    if (saveFileAsker_) {
        path = saveFileAsker_(this);
    } else {
        const QString folder = QFileInfo(QString::fromStdString(logPath_)).absolutePath();
        path = QFileDialog::getSaveFileName(this, QStringLiteral("CSV保存"),
                                            folder + QStringLiteral("/Kestrovan.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    }
    if (path.isEmpty()) return;
    StartCsv(path);
}

void FrmLog::StartCsv(const QString& path) {
    const size_t rows = log_text->RowCount();
    StartJob([this, path, rows](Job& job) {
        {
            const std::lock_guard<std::mutex> lock(job.mutex);
            job.csv = true;
        }
        // Its own handle: the list goes on reading rows through the window's.
        std::unique_ptr<logview::LogFile> reader;
        if (detail_) reader = std::make_unique<logview::LogFile>(logPath_);
        QSaveFile file(path);
        bool written = file.open(QIODevice::WriteOnly);
        std::string csv;
        // CP932 like every other file of the program, so the spreadsheet of a Japanese
        // desktop opens it as it is.
        auto flush = [&] {
            const std::string bytes = cp932::EncodeFromUtf8(csv);
            csv.clear();
            written = written && file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                                     static_cast<qint64>(bytes.size());
        };
        for (size_t row = 0; row < rows && written; ++row) {
            if (detail_) {
                logview::AppendCsvRow(csv, logview::DetailRowAt(*reader, index_[row]));
            } else {
                logview::AppendCsvRow(csv, totalsLines_[row]);
            }
            if (csv.size() < kCsvPieceBytes) continue;
            if (job.cancel.load(std::memory_order_relaxed)) return;  // the file is not made
            flush();
            {
                const std::lock_guard<std::mutex> lock(job.mutex);
                job.done = row + 1;
                job.total = rows;
            }
            Post(job);
        }
        if (written) flush();
        written = written && file.commit();
        const std::lock_guard<std::mutex> lock(job.mutex);
        job.csvMessage = written ? QStringLiteral("CSVファイルに保存しました: %1").arg(path)
                                 : QStringLiteral("CSVファイルを保存できません: %1").arg(path);
    });
}

void FrmLog::StartJob(std::function<void(Job&)> work) {
    StopJob();
    job_ = std::make_unique<Job>();
    Job* job = job_.get();
    SetBusy(true);
    job->thread = std::thread([this, job, work = std::move(work)] {
        work(*job);
        {
            const std::lock_guard<std::mutex> lock(job->mutex);
            job->finished = true;
        }
        Post(*job);
    });
}

void FrmLog::Post(Job& job) {
    // One call waiting in the window's queue is enough: it takes all there is.
    if (job.posted.exchange(true)) return;
    // Either job's call takes in both: each looks only at what its own job holds.
    QMetaObject::invokeMethod(
        this,
        [this] {
            Drain();
            DrainCheck();
        },
        Qt::QueuedConnection);
}

void FrmLog::Drain() {
    if (!job_) return;
    Job& job = *job_;
    job.posted.store(false);
    std::vector<uint64_t> rows;
    uint64_t done = 0;
    uint64_t total = 0;
    bool finished = false;
    {
        const std::lock_guard<std::mutex> lock(job.mutex);
        rows.swap(job.rows);
        done = job.done;
        total = job.total;
        finished = job.finished;
    }
    if (!rows.empty()) {
        index_.Append(rows.data(), rows.size());
        log_text->SetRowCount(index_.size());
        PlaceHeadings();
    }
    if (total > 0) Progress->setValue(static_cast<int>(done * 1000 / total));
    if (!finished) return;

    job.thread.join();
    const std::unique_ptr<Job> ended = std::move(job_);
    SetBusy(false);
    if (ended->csv) {
        LblMessage->setText(ended->csvMessage);
        return;
    }
    if (!detail_) {
        totalsLines_ = logview::TotalsList(ended->scan.totals);
        log_text->SetRowCount(totalsLines_.size());
        PlaceHeadings();
    }
    PicChart->SetTotals(std::move(ended->scan.totals));
    // Cleared when the reading began; a totals check that ended meanwhile keeps its answer.
    if (!ended->scan.message.empty())
        LblMessage->setText(QString::fromStdString(ended->scan.message));
}

void FrmLog::StopJob() {
    if (!job_) return;
    job_->cancel.store(true);
    job_->thread.join();
    job_.reset();
    SetBusy(false);
}

void FrmLog::SetBusy(bool busy) {
    Progress->setValue(0);
    Progress->setVisible(busy);
    PicChart->SetEmptyText(busy ? QStringLiteral("接続ログを読んでいます…")
                                : QStringLiteral("集計する通話がありません"));
    CmdCsv->setEnabled(!busy);
    if (busy) {
        log_text->viewport()->setCursor(Qt::BusyCursor);
    } else {
        log_text->viewport()->unsetCursor();
    }
}

void FrmLog::SetTotalsChecker(TotalsChecker checker) {
    totalsChecker_ = std::move(checker);
    CmdCheck->setVisible(static_cast<bool>(totalsChecker_));
}

void FrmLog::CmdCheck_Click() {
    // Pressed again while it runs: it stops.
    if (checkJob_) {
        StopCheck();
        return;
    }
    if (!totalsChecker_) return;
    TotalsCheckWork work = totalsChecker_();
    if (work) StartCheck(std::move(work));
}

void FrmLog::StartCheck(TotalsCheckWork work) {
    StopCheck();
    checkJob_ = std::make_unique<Job>();
    Job* job = checkJob_.get();
    CheckProgress->setValue(0);
    CheckProgress->show();
    job->thread = std::thread([this, job, work = std::move(work)] {
        std::string text = work(job->cancel, [this, job](uint64_t done, uint64_t total) {
            {
                const std::lock_guard<std::mutex> lock(job->mutex);
                job->done = done;
                job->total = total;
            }
            Post(*job);
        });
        {
            const std::lock_guard<std::mutex> lock(job->mutex);
            job->checkText = std::move(text);
            job->finished = true;
        }
        Post(*job);
    });
}

void FrmLog::DrainCheck() {
    if (!checkJob_) return;
    Job& job = *checkJob_;
    job.posted.store(false);
    uint64_t done = 0;
    uint64_t total = 0;
    bool finished = false;
    {
        const std::lock_guard<std::mutex> lock(job.mutex);
        done = job.done;
        total = job.total;
        finished = job.finished;
    }
    if (total > 0) CheckProgress->setValue(static_cast<int>(done * 1000 / total));
    if (!finished) return;
    job.thread.join();
    const std::unique_ptr<Job> ended = std::move(checkJob_);
    CheckProgress->hide();
    LblMessage->setText(QString::fromStdString(ended->checkText));
}

void FrmLog::StopCheck() {
    if (!checkJob_) return;
    checkJob_->cancel.store(true);
    checkJob_->thread.join();
    checkJob_.reset();
    CheckProgress->hide();
}

FrmLog* ShowLogViewer(const std::string& logPath, QWidget* parent, FrmLog::TotalsChecker checker,
                      FrmLog* open) {
    FrmLog* window = open;
    if (!window) {
        window = new FrmLog(logPath, parent);
        window->SetTotalsChecker(std::move(checker));
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace kv
