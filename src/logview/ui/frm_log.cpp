#include "logview/ui/frm_log.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "common/cp932.h"
#include "logview/ui/log_chart.h"

namespace kv {

// Hands the packed lines to the list view without copying them into Qt strings up front:
// only the rows on screen are ever converted.
class LogListModel : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(std::min<size_t>(lines_.size(), INT_MAX));
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() ||
            static_cast<size_t>(index.row()) >= lines_.size()) {
            return {};
        }
        const std::string_view line = lines_[static_cast<size_t>(index.row())];
        return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    void SetLines(logview::LogList lines) {
        beginResetModel();
        lines_ = std::move(lines);
        endResetModel();
    }
    const logview::LogList& Lines() const { return lines_; }

  private:
    logview::LogList lines_;
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

}  // namespace

FrmLog::FrmLog(std::string logPath, QWidget* parent)
    : QWidget(parent, Qt::Window), logPath_(std::move(logPath)) {
    setObjectName(QStringLiteral("FrmLog"));
    setWindowTitle(QStringLiteral("ログ表示"));

    const QFont listFont = LogFont();
    const QFontMetrics listMetrics(listFont);
    const int charWidth = listMetrics.horizontalAdvance(QLatin1Char('0'));

    model_ = new LogListModel(this);
    log_text = new QListView(this);
    log_text->setObjectName(QStringLiteral("log_text"));
    log_text->setFont(listFont);
    log_text->setUniformItemSizes(true);
    log_text->setEditTriggers(QAbstractItemView::NoEditTriggers);
    log_text->setModel(model_);
    const int listLeft = log_text->frameWidth() + log_text->spacing() + 3;
    log_text->setMinimumWidth(listLeft + (kLineChars + 3) * charWidth +
                              log_text->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    // Headings sit at the character columns of the list font; a heading wider than its
    // column gets a smaller font rather than pushing the next one along.
    auto* header = new QWidget(this);
    QFont labelFont = listFont;
    int headerHeight = 0;
    for (const Column& column : kColumns) {
        auto* label = new QLabel(QString::fromUtf8(column.text), header);
        label->setObjectName(QString::fromLatin1(column.name));
        QFont font = labelFont;
        const int room = (column.width + 1) * charWidth - 2;
        while (QFontMetrics(font).horizontalAdvance(label->text()) > room &&
               font.pointSizeF() > 5) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
        }
        label->setFont(font);
        const int height = QFontMetrics(font).height() + 2;
        label->setGeometry(listLeft + column.start * charWidth, 0, room, listMetrics.height() + 2);
        label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        headerHeight = std::max(headerHeight, std::max(height, listMetrics.height() + 2));
    }
    header->setFixedHeight(headerHeight);

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
    cancel = new QPushButton(QStringLiteral("閉じる"), this);
    cancel->setObjectName(QStringLiteral("cancel"));

    PicChart = new LogChart(this);
    PicChart->setObjectName(QStringLiteral("PicChart"));
    LblMessage = new QLabel(this);
    LblMessage->setObjectName(QStringLiteral("LblMessage"));
    LblMessage->setWordWrap(true);
    LblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    left->addWidget(header);
    left->addWidget(log_text, 3);
    left->addWidget(PicChart, 1);
    left->addWidget(LblMessage);
    auto* right = new QVBoxLayout;
    right->addWidget(Frame1);
    right->addWidget(CmdRedsp);
    right->addWidget(CmdCsv);
    right->addWidget(CmdCheck);
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

FrmLog::~FrmLog() = default;

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
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Show(logview::DspLog1(logPath_));
    QApplication::restoreOverrideCursor();
}

void FrmLog::DspLog2(int kind) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Show(logview::DspLog2(logPath_, kind));
    QApplication::restoreOverrideCursor();
}

void FrmLog::Show(logview::LogDisplay display) {
    model_->SetLines(std::move(display.lines));
    // Newest first: a new display starts at its first line, whatever was scrolled before.
    log_text->scrollToTop();
    PicChart->SetTotals(std::move(display.totals));
    LblMessage->setText(QString::fromStdString(display.message));
}

const logview::LogList& FrmLog::Lines() const {
    return model_->Lines();
}

QString FrmLog::Message() const {
    return LblMessage->text();
}

void FrmLog::CmdCsv_Click() {
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

    // CP932 like every other file of the program, so the spreadsheet of a Japanese desktop
    // opens it as it is.
    const std::string bytes = cp932::EncodeFromUtf8(logview::CsvFromList(model_->Lines()));
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                             static_cast<qint64>(bytes.size()) &&
                         file.commit();
    LblMessage->setText(written ? QStringLiteral("CSVファイルに保存しました: %1").arg(path)
                                : QStringLiteral("CSVファイルを保存できません: %1").arg(path));
}

void FrmLog::SetTotalsChecker(TotalsChecker checker) {
    totalsChecker_ = std::move(checker);
    CmdCheck->setVisible(static_cast<bool>(totalsChecker_));
}

void FrmLog::CmdCheck_Click() {
    if (totalsChecker_) LblMessage->setText(QString::fromStdString(totalsChecker_()));
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
