// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The call-log viewer window: the log as a detail list or as unit totals per day, month or
// year, a chart of the totals and a CSV export of what the list shows. Reading and writing
// run on a thread of their own, so the window answers whatever the log's length; the newest
// calls show first and the rest fills in.
#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "logview/dsp_log.h"

class QLabel;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kv {

class LogChart;
class LogListView;

class FrmLog : public QWidget {
  public:
    explicit FrmLog(std::string logPath, QWidget* parent = nullptr);
    ~FrmLog() override;

    // Asks for the CSV file to write; an empty answer cancels. Tests put their own here.
    using SaveFileAsker = std::function<QString(QWidget* parent)>;
    void SetSaveFileAsker(SaveFileAsker asker) { saveFileAsker_ = std::move(asker); }
    // The totals file beside the totals rebuilt from the log, as text; set by the program,
    // which shows the button "累積確認" then. The checker is called on the window's thread and
    // hands back the work, which runs on a thread of its own: it must take along copies of
    // whatever it needs. The work reports the bytes read and stops early (its text is then
    // not shown) once cancel is set.
    using ProgressReport = std::function<void(uint64_t done, uint64_t total)>;
    using TotalsCheckWork =
        std::function<std::string(const std::atomic<bool>& cancel, const ProgressReport& progress)>;
    using TotalsChecker = std::function<TotalsCheckWork()>;
    void SetTotalsChecker(TotalsChecker checker);

    void Form_Load();
    void CmdRedsp_Click();
    void Cancel_Click();
    void CmdCsv_Click();
    void CmdCheck_Click();
    // Start reading the log; the list fills while the window goes on answering.
    void DspLog1();
    void DspLog2(int kind);

    // True while the log is being read or the CSV file written.
    bool Busy() const { return job_ != nullptr; }
    // True while the totals are being rebuilt; pressing "累積確認" again stops it.
    bool Checking() const { return checkJob_ != nullptr; }
    // The rows the list holds now.
    size_t RowCount() const;
    QString Row(size_t row) const;
    // The last read's or save's trouble, shown under the list; empty when all went well.
    QString Message() const;

    // The column headings, Label1 to Label8.
    QLabel* Heading(int index) const { return headings_[static_cast<size_t>(index)]; }
    LogListView* List() const { return log_text; }
    LogChart* Chart() const { return PicChart; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    struct Job;
    void StartReading(int kind);
    void StartCsv(const QString& path);
    // Runs work on the job's thread; what it hands over is taken in by Drain.
    void StartJob(std::function<void(Job&)> work);
    void Post(Job& job);
    void Drain();
    // Stops the running job and waits for its thread (a window's worth of reading at most).
    void StopJob();
    void StartCheck(TotalsCheckWork work);
    void DrainCheck();
    void StopCheck();
    void SetBusy(bool busy);
    // Each heading over its column of the row at the top of the list.
    void PlaceHeadings();
    std::string RowBytes(size_t row) const;

    std::string logPath_;
    SaveFileAsker saveFileAsker_;
    TotalsChecker totalsChecker_;
    std::unique_ptr<Job> job_;
    // The totals check: beside the reading, which it neither waits for nor stops.
    std::unique_ptr<Job> checkJob_;
    // What the list shows: the detail rows by offset into the log, or the totals lines.
    bool detail_ = true;
    std::unique_ptr<logview::LogFile> file_;
    logview::DetailIndex index_;
    logview::LogList totalsLines_;
    LogListView* log_text = nullptr;
    QWidget* header_ = nullptr;
    std::array<QLabel*, 8> headings_{};
    QProgressBar* Progress = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 4> OptSum{};
    QPushButton* CmdRedsp = nullptr;
    QPushButton* CmdCsv = nullptr;
    QPushButton* CmdCheck = nullptr;
    QProgressBar* CheckProgress = nullptr;
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
