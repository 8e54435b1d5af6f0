// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FrmSetup, the modal dialog that edits the settings record and stores it.
#include <QDialog>
#include <QFileInfo>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/trace.h"
#include "common/message_box.h"
#include "settings/settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QStatusBar;
class QTabWidget;

namespace kv {

// What the dialog needs from the running program, which implements it.
class SetupHost {
  public:
    virtual ~SetupHost() = default;
    virtual Settings& Record() = 0;
    virtual Trace& TraceFile() = 0;
    // A box of the main window's; nullopt: the dialog shows its own.
    virtual std::optional<MsgResult> MessageBox(const std::string& text, const std::string& title,
                                                MsgIcon icon, MsgButtons buttons) = 0;
    // The router is not polled while the settings are edited.
    virtual void SetPolling(bool on) = 0;
    // The timers take the record's intervals.
    virtual void ApplyIntervals() = 0;
    // The record into the store; false when not every value could be written.
    virtual bool StoreRecord() = 0;
    // Why the last store failed, in the system's words; empty when unknown.
    virtual std::string StoreError() { return {}; }
};

// Opens FrmSetup anew, modally, and returns when it is closed.
void ShowSetupDialog(SetupHost& host, QWidget* parent);

// True for what the "EXE ﾌｧｲﾙ" filter lists: folders, *.EXE in any case, and files that may be
// executed (programs here mostly carry no extension).
bool AcceptsAsProgram(const QFileInfo& info);

class FrmSetup : public QDialog {
  public:
    // Asks for a program file; nullopt when the user cancelled. Tests inject their own so no
    // file dialog opens.
    using FileChooser =
        std::function<std::optional<QString>(QWidget* parent, const QString& current)>;

    explicit FrmSetup(SetupHost& host, QWidget* parent = nullptr, FileChooser chooser = {});

    // Direction 1 copies the dialog into the record, 2 the record into the dialog. Direction 1
    // first checks every field; when one is unusable the user is told, the field gets the
    // focus, nothing is changed and false is returned.
    bool SetupCopy(int direction);

    void Form_Load();
    void BtnOK_Click();
    void NotStored();
    void BtnUPDT_Click();
    void BtnCCL_Click();
    void BtnDir_Click(int index);
    void SldSOHOInt_Change(int value);
    void SldSOHO2Int_Change(int value);
    void SldDspInt_Change(int value);

    // True once the user has edited something since the dialog showed the record (or last
    // stored it).
    bool Changed() const { return changed_; }

    // The close box and Esc act as "キャンセル".
    void reject() override;

  private:
    struct NumericField {
        QLineEdit* box;
        const char* caption;
        int16_t Settings::*field;
    };

    void BuildBasicTab(QWidget* page);
    void BuildAdvancedTab(QWidget* page);
    void BuildOtherTab(QWidget* page);
    void BuildLinkedTab(QWidget* page);
    void WatchEdits();
    void MarkChanged();
    bool Validate();
    void Refuse(QLineEdit* box, const std::string& text);
    void ResumePollingAndClose(int result);
    MsgResult Ask(const std::string& text, const std::string& title, MsgIcon icon,
                  MsgButtons buttons);

    SetupHost& host_;
    FileChooser chooser_;
    bool changed_ = false;
    bool loading_ = false;

    QTabWidget* SSTab1 = nullptr;
    QLineEdit *TxtSOHOIP = nullptr, *TxtSOHOPW = nullptr, *TxtSecA = nullptr, *TxtSecB = nullptr,
              *TxtSecC = nullptr, *TxtTani = nullptr, *TxtConnectNo = nullptr,
              *TxtCutTime = nullptr, *TxtDelay = nullptr, *TxtStartDay = nullptr,
              *TxtDSPInt = nullptr, *TxtSOHOInt = nullptr, *TxtSOHO2Int = nullptr;
    QCheckBox *ChkAutoCut = nullptr, *ChkTeleho = nullptr, *ChkTopDsp = nullptr,
              *ChkTrans = nullptr, *ChkInfo = nullptr, *ChkLineCut = nullptr, *ChkTimeSet = nullptr,
              *ChkKcodeSet = nullptr, *ChkDbgLog = nullptr, *ChkNotify = nullptr,
              *ChkTrayTip = nullptr, *ChkAutoStart = nullptr;
    QComboBox* CmbDiscount = nullptr;
    QSlider *SldDspInt = nullptr, *SldSOHOInt = nullptr, *SldSOHO2Int = nullptr;
    std::array<QRadioButton*, 3> OptStartWin{};
    std::array<QRadioButton*, 2> OptConctWin{}, OptDiscWin{}, OptDosuu{};
    QRadioButton *OptHV = nullptr, *OptV = nullptr;
    std::array<QLineEdit*, kHolidayEntries> TxtHoliday{};
    std::array<QLineEdit*, kRunnerSlots> TxtRunPG{};
    std::array<QPushButton*, kRunnerSlots> BtnDir{};
    std::array<QCheckBox*, kRunnerSlots> ChkEnab{}, ChkPGEnd{};
    QPushButton *BtnOK = nullptr, *BtnCCL = nullptr, *BtnUPDT = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::vector<NumericField> numeric_;
};

}  // namespace kv
