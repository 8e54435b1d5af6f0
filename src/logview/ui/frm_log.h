#pragma once
// The call-log viewer window: the log as a detail list or as unit totals per day, month or
// year, a chart of the totals and a CSV export of what the list shows.
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "logview/dsp_log.h"

class QLabel;
class QGroupBox;
class QListView;
class QPushButton;
class QRadioButton;

namespace kv {

class LogChart;
class LogListModel;

class FrmLog : public QWidget {
  public:
    explicit FrmLog(std::string logPath, QWidget* parent = nullptr);
    ~FrmLog() override;

    // Asks for the CSV file to write; an empty answer cancels. Tests put their own here.
    using SaveFileAsker = std::function<QString(QWidget* parent)>;
    void SetSaveFileAsker(SaveFileAsker asker) { saveFileAsker_ = std::move(asker); }
    // The totals file beside the totals rebuilt from the log, as text; set by the program,
    // which shows the button "累積確認" then.
    using TotalsChecker = std::function<std::string()>;
    void SetTotalsChecker(TotalsChecker checker);

    void Form_Load();
    void CmdRedsp_Click();
    void Cancel_Click();
    void CmdCsv_Click();
    void CmdCheck_Click();
    void DspLog1();
    void DspLog2(int kind);

    const logview::LogList& Lines() const;
    // The last read's or save's trouble, shown under the list; empty when all went well.
    QString Message() const;

  private:
    void Show(logview::LogDisplay display);

    std::string logPath_;
    SaveFileAsker saveFileAsker_;
    TotalsChecker totalsChecker_;
    LogListModel* model_ = nullptr;
    QListView* log_text = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 4> OptSum{};
    QPushButton* CmdRedsp = nullptr;
    QPushButton* CmdCsv = nullptr;
    QPushButton* CmdCheck = nullptr;
    QPushButton* cancel = nullptr;
    LogChart* PicChart = nullptr;
    QLabel* LblMessage = nullptr;
};

// Opens FrmLog on the log without waiting for it; the window deletes itself when closed. With
// open (the viewer already showing) that one comes to the front instead, without reading the
// log again. Returns the window shown.
FrmLog* ShowLogViewer(const std::string& logPath, QWidget* parent,
                      FrmLog::TotalsChecker checker = {}, FrmLog* open = nullptr);

}  // namespace kv
