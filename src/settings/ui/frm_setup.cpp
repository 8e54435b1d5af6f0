// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ui/frm_setup.h"

#include "platform/qt_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSortFilterProxyModel>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace kv {

namespace {

constexpr const char* kTitle = "基本設定";
constexpr const char* kProgramFilter = "EXE ﾌｧｲﾙ (*)";
constexpr const char* kAllFilesFilter = "すべてのﾌｧｲﾙ (*)";
// The maximum length the box was designed with; a longer stored value raises it for display.
constexpr const char* kDesignMaxLength = "kvDesignMaxLength";

QLineEdit* MakeBox(QWidget* parent, const char* name, int maxLength) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(Q(name));
    if (maxLength > 0) {
        box->setMaxLength(maxLength);
        box->setProperty(kDesignMaxLength, maxLength);
        if (maxLength <= 5) box->setMaximumWidth(64);
    }
    return box;
}

// Shows a record value in full: QLineEdit would cut it to the box's maximum length, and the
// next store would then keep the cut value.
void SetBoxText(QLineEdit* box, const std::string& text) {
    const QString value = Q(text);
    const QVariant design = box->property(kDesignMaxLength);
    if (design.isValid())
        box->setMaxLength(std::max(design.toInt(), static_cast<int>(value.size())));
    box->setText(value);
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption) {
    auto* check = new QCheckBox(Q(caption), parent);
    check->setObjectName(Q(name));
    return check;
}

QRadioButton* MakeOption(QWidget* parent, const std::string& name, const char* caption) {
    auto* option = new QRadioButton(Q(caption), parent);
    option->setObjectName(Q(name));
    return option;
}

QSlider* MakeSlider(QWidget* parent, const char* name) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(Q(name));
    slider->setRange(1000, 10000);
    slider->setSingleStep(500);
    slider->setPageStep(500);
    slider->setTickInterval(1000);
    slider->setTickPosition(QSlider::TicksBelow);
    return slider;
}

QLabel* MakeLabel(QWidget* parent, const char* caption) {
    return new QLabel(Q(caption), parent);
}

QGroupBox* MakeGroup(QWidget* parent, const char* caption) {
    auto* group = new QGroupBox(Q(caption), parent);
    return group;
}

void SetCheck(QCheckBox* check, int16_t value) {
    check->setChecked(value != 0);
}
int16_t CheckValue(const QCheckBox* check) {
    return check->isChecked() ? 1 : 0;
}

// Selects the option of the field's index; a value outside the group selects the button that
// the copy back maps every other value to (the last one), so what is shown is what is stored.
template <size_t N>
void SelectOption(const std::array<QRadioButton*, N>& group, int16_t value) {
    const size_t index =
        (value >= 0 && static_cast<size_t>(value) < N) ? static_cast<size_t>(value) : N - 1;
    group[index]->setChecked(true);
}

// A whole number, possibly signed and with a fraction (rounded later), between blanks.
bool LooksNumeric(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^[ \\t]*[+-]?(\\d+(\\.\\d*)?|\\.\\d+)[ \\t]*$"));
    return number.match(text).hasMatch();
}

// Lists folders and programs while the "EXE ﾌｧｲﾙ" filter is chosen.
class ProgramFilterModel : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetProgramsOnly(bool on) {
        programsOnly_ = on;
        invalidateFilter();
    }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!programsOnly_) return true;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        return AcceptsAsProgram(files->fileInfo(files->index(row, 0, parent)));
    }

  private:
    bool programsOnly_ = true;
};

std::optional<QString> ChooseProgramFile(QWidget* parent, const QString& current) {
    QFileDialog dialog(parent);
    // The proxy model works only in Qt's own dialog.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QFileInfo currentInfo(current);
    if (!current.isEmpty() && currentInfo.absoluteDir().exists()) {
        dialog.setDirectory(currentInfo.absoluteDir());
        dialog.selectFile(currentInfo.fileName());
    }
    auto* filter = new ProgramFilterModel(&dialog);
    dialog.setProxyModel(filter);
    dialog.setNameFilters({Q(kProgramFilter), Q(kAllFilesFilter)});
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, filter,
        [filter](const QString& chosen) { filter->SetProgramsOnly(chosen == Q(kProgramFilter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().front());
}

}  // namespace

bool AcceptsAsProgram(const QFileInfo& info) {
    if (info.isDir()) return true;
    return info.suffix().compare(QStringLiteral("exe"), Qt::CaseInsensitive) == 0 ||
           info.isExecutable();
}

void ShowSetupDialog(SetupHost& host, QWidget* parent) {
    FrmSetup dialog(host, parent);
    dialog.exec();
}

FrmSetup::FrmSetup(SetupHost& host, QWidget* parent, FileChooser chooser)
    : QDialog(parent),
      host_(host),
      chooser_(chooser ? std::move(chooser) : FileChooser(ChooseProgramFile)) {
    setObjectName(QStringLiteral("FrmSetup"));
    setWindowTitle(Q(kTitle));
    setModal(true);
    // A dialog: only its close box, whether or not the main window is its parent.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    const char* tabs[] = {"基本", "応用", "その他", "連動"};
    const char* pageNames[] = {"TabBasic", "TabAdvanced", "TabOther", "TabLinked"};
    for (int i = 0; i < 4; ++i) {
        auto* page = new QWidget(SSTab1);
        page->setObjectName(Q(pageNames[i]));
        SSTab1->addTab(page, Q(tabs[i]));
    }
    BuildBasicTab(SSTab1->widget(0));
    BuildAdvancedTab(SSTab1->widget(1));
    BuildOtherTab(SSTab1->widget(2));
    BuildLinkedTab(SSTab1->widget(3));
    // The tabs scroll where the screen is smaller than they are (large type on a small
    // screen), so the buttons below stay on it.
    auto* tabsScroll = new QScrollArea(this);
    tabsScroll->setObjectName(QStringLiteral("TabsScroll"));
    tabsScroll->setFrameShape(QFrame::NoFrame);
    tabsScroll->setWidgetResizable(true);
    tabsScroll->setWidget(SSTab1);
    const QSize natural = SSTab1->sizeHint();
    QSize room = natural;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        // What the buttons, the margins and the window's frame take.
        const QSize around(48, 120);
        room = room.boundedTo(screen->availableGeometry().size() - around);
    }
    const int bar = room.height() < natural.height()
                        ? tabsScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                        : 0;
    tabsScroll->setMinimumSize(std::min(natural.width() + bar, room.width()), room.height());
    layout->addWidget(tabsScroll);
    // Whole on the screen, its size is its contents': window managers that offer maximising
    // by what a window can do (openbox) leave that button out.
    if (room == natural) layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    BtnOK = new QPushButton(Q("ＯＫ"), this);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnCCL = new QPushButton(Q("キャンセル"), this);
    BtnCCL->setObjectName(QStringLiteral("BtnCCL"));
    BtnUPDT = new QPushButton(Q("適用"), this);
    BtnUPDT->setObjectName(QStringLiteral("BtnUPDT"));
    for (QPushButton* b : {BtnOK, BtnCCL, BtnUPDT}) {
        // Enter in a text box must not store the settings behind the user's back.
        b->setAutoDefault(false);
        b->setDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    // Nothing writes to it: an empty strip under the buttons only looks broken.
    StatusBar1->hide();
    layout->addWidget(StatusBar1);

    numeric_ = {
        {TxtSecA, "平日昼", &Settings::seca},
        {TxtSecB, "休日・夜間", &Settings::secb},
        {TxtSecC, "深夜", &Settings::secc},
        {TxtTani, "課金単位", &Settings::ctanni},
        {TxtConnectNo, "接続先登録№", &Settings::cnctno},
        {TxtCutTime, "無通信判断", &Settings::atcuttm},
        {TxtDelay, "切断調整", &Settings::atcutdly},
        {TxtStartDay, "累積開始日", &Settings::telstday},
        {TxtSOHOInt, "SOHO未接続時", &Settings::sohoint},
        {TxtSOHO2Int, "SOHO接続時", &Settings::soho2int},
        {TxtDSPInt, "接続秒表示", &Settings::dspint},
    };

    connect(BtnOK, &QPushButton::clicked, this, &FrmSetup::BtnOK_Click);
    connect(BtnCCL, &QPushButton::clicked, this, &FrmSetup::BtnCCL_Click);
    connect(BtnUPDT, &QPushButton::clicked, this, &FrmSetup::BtnUPDT_Click);
    for (int i = 0; i < kRunnerSlots; ++i)
        connect(BtnDir[i], &QPushButton::clicked, this, [this, i] { BtnDir_Click(i); });
    connect(SldSOHOInt, &QSlider::valueChanged, this, &FrmSetup::SldSOHOInt_Change);
    connect(SldSOHO2Int, &QSlider::valueChanged, this, &FrmSetup::SldSOHO2Int_Change);
    connect(SldDspInt, &QSlider::valueChanged, this, &FrmSetup::SldDspInt_Change);
    WatchEdits();

    Form_Load();
}

void FrmSetup::BuildBasicTab(QWidget* page) {
    auto* grid = new QGridLayout(page);

    auto* soho = MakeGroup(page, "MN128-SOHO");
    auto* g = new QGridLayout(soho);
    TxtSOHOIP = MakeBox(soho, "TxtSOHOIP", 20);
    TxtSOHOPW = MakeBox(soho, "TxtSOHOPW", 20);
    TxtSOHOPW->setEchoMode(QLineEdit::Password);
    TxtSOHOPW->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    g->addWidget(MakeLabel(soho, "IP Address"), 0, 0);
    g->addWidget(TxtSOHOIP, 0, 1);
    g->addWidget(MakeLabel(soho, "Password"), 1, 0);
    g->addWidget(TxtSOHOPW, 1, 1);
    grid->addWidget(soho, 0, 0);

    auto* info = MakeGroup(page, "接続情報");
    g = new QGridLayout(info);
    auto row = [&](QGridLayout* l, QWidget* parent, int r, const char* caption, QLineEdit* box,
                   const char* unit) {
        l->addWidget(MakeLabel(parent, caption), r, 0);
        l->addWidget(box, r, 1);
        if (unit) l->addWidget(MakeLabel(parent, unit), r, 2);
    };
    TxtSecA = MakeBox(info, "TxtSecA", 3);
    TxtSecB = MakeBox(info, "TxtSecB", 3);
    TxtSecC = MakeBox(info, "TxtSecC", 3);
    TxtTani = MakeBox(info, "TxtTani", 3);
    TxtConnectNo = MakeBox(info, "TxtConnectNo", 2);
    row(g, info, 0, "平日昼", TxtSecA, "秒");
    row(g, info, 1, "休日・夜間", TxtSecB, "秒");
    row(g, info, 2, "深夜", TxtSecC, "秒");
    row(g, info, 3, "課金単位", TxtTani, "円");
    row(g, info, 4, "接続先登録№", TxtConnectNo, nullptr);
    grid->addWidget(info, 0, 1, 2, 1);

    auto* cut = MakeGroup(page, "切断情報");
    g = new QGridLayout(cut);
    ChkAutoCut = MakeCheck(cut, "ChkAutoCut", "する");
    g->addWidget(MakeLabel(cut, "自動切断"), 0, 0);
    g->addWidget(ChkAutoCut, 0, 1);
    TxtCutTime = MakeBox(cut, "TxtCutTime", 3);
    TxtDelay = MakeBox(cut, "TxtDelay", 2);
    row(g, cut, 1, "無通信判断", TxtCutTime, "秒以上");
    row(g, cut, 2, "切断調整", TxtDelay, "秒前");
    grid->addWidget(cut, 1, 0);

    auto* tel = MakeGroup(page, "電話料金");
    g = new QGridLayout(tel);
    TxtStartDay = MakeBox(tel, "TxtStartDay", 2);
    row(g, tel, 0, "累積開始日", TxtStartDay, nullptr);
    ChkTeleho = MakeCheck(tel, "ChkTeleho", "ﾃﾚﾎｰﾀﾞｲ");
    g->addWidget(ChkTeleho, 1, 0, 1, 2);
    CmbDiscount = new QComboBox(tel);
    CmbDiscount->setObjectName(QStringLiteral("CmbDiscount"));
    CmbDiscount->setMinimumWidth(160);
    g->addWidget(MakeLabel(tel, "割引プラン"), 2, 0);
    g->addWidget(CmbDiscount, 2, 1, 1, 2);
    g->setColumnStretch(3, 1);
    grid->addWidget(tel, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
}

void FrmSetup::BuildAdvancedTab(QWidget* page) {
    auto* grid = new QGridLayout(page);

    auto* interval = MakeGroup(page, "割込間隔");
    auto* g = new QGridLayout(interval);
    auto row = [&](int r, const char* caption, QLineEdit* box, QSlider* slider) {
        box->setMaximumWidth(60);
        g->addWidget(MakeLabel(interval, caption), r, 0);
        g->addWidget(box, r, 1);
        g->addWidget(slider, r, 2);
        g->addWidget(MakeLabel(interval, "ミリ秒"), r, 3);
    };
    // The interval boxes have no length limit of their own: a slider fills them.
    TxtDSPInt = MakeBox(interval, "TxtDSPInt", 0);
    TxtSOHOInt = MakeBox(interval, "TxtSOHOInt", 0);
    TxtSOHO2Int = MakeBox(interval, "TxtSOHO2Int", 0);
    SldDspInt = MakeSlider(interval, "SldDspInt");
    SldSOHOInt = MakeSlider(interval, "SldSOHOInt");
    SldSOHO2Int = MakeSlider(interval, "SldSOHO2Int");
    row(0, "接続秒表示", TxtDSPInt, SldDspInt);
    row(1, "SOHO未接続時", TxtSOHOInt, SldSOHOInt);
    row(2, "SOHO接続時", TxtSOHO2Int, SldSOHO2Int);
    grid->addWidget(interval, 0, 0, 1, 3);

    auto* show = MakeGroup(page, "表示");
    g = new QGridLayout(show);
    ChkTopDsp = MakeCheck(show, "ChkTopDsp", "する");
    ChkTrans = MakeCheck(show, "ChkTrans", "する");
    ChkInfo = MakeCheck(show, "ChkInfo", "する");
    g->addWidget(MakeLabel(show, "最前面"), 0, 0);
    g->addWidget(ChkTopDsp, 0, 1);
    g->addWidget(MakeLabel(show, "透明mode"), 1, 0);
    g->addWidget(ChkTrans, 1, 1);
    g->addWidget(MakeLabel(show, "Infometion"), 2, 0);
    g->addWidget(ChkInfo, 2, 1);
    grid->addWidget(show, 1, 0, 2, 1);

    auto* start = MakeGroup(page, "起動時Window");
    auto* v = new QVBoxLayout(start);
    const char* startCaptions[] = {"通常", "最小化", "前回の状態"};
    for (int i = 0; i < 3; ++i) {
        OptStartWin[i] = MakeOption(start, "OptStartWin" + std::to_string(i), startCaptions[i]);
        v->addWidget(OptStartWin[i]);
    }
    grid->addWidget(start, 1, 1, 2, 1);

    auto* conct = MakeGroup(page, "接続時Window");
    v = new QVBoxLayout(conct);
    OptConctWin[0] = MakeOption(conct, "OptConctWin0", "通常に戻す");
    OptConctWin[1] = MakeOption(conct, "OptConctWin1", "変更しない");
    for (QRadioButton* o : OptConctWin) v->addWidget(o);
    grid->addWidget(conct, 1, 2);

    auto* disc = MakeGroup(page, "切断時Window");
    v = new QVBoxLayout(disc);
    OptDiscWin[0] = MakeOption(disc, "OptDiscWin0", "最小化する");
    OptDiscWin[1] = MakeOption(disc, "OptDiscWin1", "変更しない");
    for (QRadioButton* o : OptDiscWin) v->addWidget(o);
    grid->addWidget(disc, 2, 2);

    auto* end = MakeGroup(page, "終了時処理");
    auto* h = new QHBoxLayout(end);
    ChkLineCut = MakeCheck(end, "ChkLineCut", "する");
    h->addWidget(MakeLabel(end, "強制切断"));
    h->addWidget(ChkLineCut);
    h->addStretch();
    grid->addWidget(end, 3, 0, 1, 3);
    grid->setRowStretch(4, 1);
}

void FrmSetup::BuildOtherTab(QWidget* page) {
    auto* grid = new QGridLayout(page);

    auto* soho = MakeGroup(page, "SOHO設定");
    auto* v = new QVBoxLayout(soho);
    ChkTimeSet = MakeCheck(soho, "ChkTimeSet", "起動時に時刻セット");
    ChkKcodeSet = MakeCheck(soho, "ChkKcodeSet", "漢字CDをSJISにする");
    v->addWidget(ChkTimeSet);
    v->addWidget(ChkKcodeSet);
    grid->addWidget(soho, 0, 0);

    auto* debug = MakeGroup(page, "debug");
    v = new QVBoxLayout(debug);
    ChkDbgLog = MakeCheck(debug, "ChkDbgLog", "debug log");
    v->addWidget(ChkDbgLog);
    grid->addWidget(debug, 0, 1);

    auto* dosuu = MakeGroup(page, "累積");
    v = new QVBoxLayout(dosuu);
    OptDosuu[0] = MakeOption(dosuu, "OptDosuu0", "当月");
    OptDosuu[1] = MakeOption(dosuu, "OptDosuu1", "当日");
    for (QRadioButton* o : OptDosuu) v->addWidget(o);
    grid->addWidget(dosuu, 0, 2);

    auto* holidays = MakeGroup(page, "祝祭日指定");
    auto* g = new QGridLayout(holidays);
    for (int i = 0; i < kHolidayEntries; ++i) {
        TxtHoliday[i] = MakeBox(holidays, ("TxtHoliday" + std::to_string(i)).c_str(), 5);
        TxtHoliday[i]->setMaximumWidth(60);
        g->addWidget(TxtHoliday[i], i / 6, i % 6);
    }
    grid->addWidget(holidays, 1, 0, 1, 3);

    // Offered but connected to nothing: the main window has one layout only.
    auto* form = MakeGroup(page, "表示形式");
    auto* h = new QHBoxLayout(form);
    OptHV = MakeOption(form, "OptHV", "縦ならび");
    OptV = MakeOption(form, "OptV", "横ならび");
    OptHV->setChecked(true);
    h->addWidget(OptHV);
    h->addWidget(OptV);
    h->addStretch();
    grid->addWidget(form, 2, 0, 1, 3);

    auto* notify = MakeGroup(page, "通知");
    v = new QVBoxLayout(notify);
    ChkNotify = MakeCheck(notify, "ChkNotify", "通知を表示する");
    ChkNotify->setToolTip(Q("接続、自動切断、MN128との接続の切断と再接続を通知します"));
    ChkTrayTip = MakeCheck(notify, "ChkTrayTip", "トレイのヒントに状態を表示する");
    ChkTrayTip->setToolTip(Q("回線の状態と接続中の経過時間・料金をヒントに加えます"));
    v->addWidget(ChkNotify);
    v->addWidget(ChkTrayTip);
    grid->addWidget(notify, 3, 0, 1, 3);

    auto* start = MakeGroup(page, "起動");
    v = new QVBoxLayout(start);
    ChkAutoStart = MakeCheck(start, "ChkAutoStart", "ログオン時に起動");
    ChkAutoStart->setToolTip(Q("デスクトップにログオンしたときに Kestrovan を起動します"));
    v->addWidget(ChkAutoStart);
    grid->addWidget(start, 4, 0, 1, 3);
    grid->setRowStretch(5, 1);
}

void FrmSetup::BuildLinkedTab(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto row = [&](QGridLayout* g, QWidget* parent, int r, int slot, const char* number,
                   const char* stopCaption) {
        const std::string suffix = std::to_string(slot);
        TxtRunPG[slot] = MakeBox(parent, ("TxtRunPG" + suffix).c_str(), 0);
        TxtRunPG[slot]->setMinimumWidth(260);
        BtnDir[slot] = new QPushButton(Q("参照"), parent);
        BtnDir[slot]->setObjectName(Q("BtnDir" + suffix));
        BtnDir[slot]->setAutoDefault(false);
        ChkEnab[slot] = MakeCheck(parent, ("ChkEnab" + suffix).c_str(), "有効");
        ChkPGEnd[slot] = MakeCheck(parent, ("ChkPGEnd" + suffix).c_str(), stopCaption);
        g->addWidget(MakeLabel(parent, number), 2 * r, 0);
        g->addWidget(TxtRunPG[slot], 2 * r, 1);
        g->addWidget(BtnDir[slot], 2 * r, 2);
        auto* flags = new QHBoxLayout;
        flags->addWidget(ChkEnab[slot]);
        flags->addWidget(ChkPGEnd[slot]);
        flags->addStretch();
        g->addLayout(flags, 2 * r + 1, 1, 1, 2);
    };

    auto* onConnect = MakeGroup(page, "接続時起動");
    auto* g = new QGridLayout(onConnect);
    row(g, onConnect, 0, 0, "１：", "切断時に強制終了");
    row(g, onConnect, 1, 1, "２：", "切断時に強制終了");
    row(g, onConnect, 2, 2, "３：", "切断時に強制終了");
    v->addWidget(onConnect);

    auto* onDisconnect = MakeGroup(page, "切断時起動");
    g = new QGridLayout(onDisconnect);
    row(g, onDisconnect, 0, 3, "１：", "予備");
    v->addWidget(onDisconnect);
    v->addStretch();
}

void FrmSetup::WatchEdits() {
    for (QLineEdit* box : findChildren<QLineEdit*>())
        connect(box, &QLineEdit::textChanged, this, &FrmSetup::MarkChanged);
    for (QCheckBox* check : findChildren<QCheckBox*>())
        connect(check, &QCheckBox::toggled, this, &FrmSetup::MarkChanged);
    for (QRadioButton* option : findChildren<QRadioButton*>())
        connect(option, &QRadioButton::toggled, this, &FrmSetup::MarkChanged);
    for (QSlider* slider : findChildren<QSlider*>())
        connect(slider, &QSlider::valueChanged, this, &FrmSetup::MarkChanged);
}

void FrmSetup::MarkChanged() {
    // Showing the record is no edit.
    if (!loading_) changed_ = true;
}

MsgResult FrmSetup::Ask(const std::string& text, const std::string& title, MsgIcon icon,
                        MsgButtons buttons) {
    if (const auto answer = host_.MessageBox(text, title, icon, buttons)) return *answer;
    const auto choice = QMessageBox::warning(
        this, Q(title), Q(text),
        buttons == MsgButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    return choice == QMessageBox::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

void FrmSetup::Refuse(QLineEdit* box, const std::string& text) {
    for (int i = 0; i < SSTab1->count(); ++i)
        if (SSTab1->widget(i)->isAncestorOf(box)) SSTab1->setCurrentIndex(i);
    box->setFocus();
    box->selectAll();
    Ask(text, kTitle, MsgIcon::Exclamation, MsgButtons::Ok);
}

bool FrmSetup::Validate() {
    for (const NumericField& f : numeric_) {
        const QString text = f.box->text();
        if (!LooksNumeric(text) || !ParseSettingInt(S(text)).inRange) {
            host_.TraceFile().Error(std::string("setup err:") + f.box->objectName().toStdString() +
                                    "=" + S(text));
            Refuse(f.box, std::string("「") + f.caption +
                              "」には -32768 から 32767 までの数値を入力してください");
            return false;
        }
    }
    if (!PasswordIsStorable(S(TxtSOHOPW->text()))) {
        host_.TraceFile().Error("setup err:TxtSOHOPW");
        Refuse(TxtSOHOPW, "「Password」に使用できない文字が含まれています");
        return false;
    }
    return true;
}

bool FrmSetup::SetupCopy(int direction) {
    Trace& trace = host_.TraceFile();
    trace.Step("SetupCopy-st");
    Settings& s = host_.Record();
    if (direction == 1) {
        // Check everything first, so a refused field leaves the whole record as it was.
        if (!Validate()) {
            trace.Step("SetupCopy-end");
            return false;
        }
        auto number = [](const QLineEdit* box) { return ParseSettingInt(S(box->text())).value; };
        s.sohoip = S(TxtSOHOIP->text());
        s.sohowp = S(TxtSOHOPW->text());
        s.seca = number(TxtSecA);
        s.secb = number(TxtSecB);
        s.secc = number(TxtSecC);
        s.ctanni = number(TxtTani);
        s.cnctno = number(TxtConnectNo);
        s.atcuttm = number(TxtCutTime);
        s.atcutmode = CheckValue(ChkAutoCut);
        s.atcutdly = number(TxtDelay);
        s.telstday = number(TxtStartDay);
        s.teleho = CheckValue(ChkTeleho);
        s.sohoint = number(TxtSOHOInt);
        s.soho2int = number(TxtSOHO2Int);
        s.dspint = number(TxtDSPInt);
        s.dsptop = CheckValue(ChkTopDsp);
        s.dsptrans = CheckValue(ChkTrans);
        s.dspinfo = CheckValue(ChkInfo);
        s.linecut = CheckValue(ChkLineCut);
        s.dosuumode = OptDosuu[0]->isChecked() ? 0 : 1;
        s.winmodes = OptStartWin[0]->isChecked() ? 0 : OptStartWin[1]->isChecked() ? 1 : 2;
        s.winmodec = OptConctWin[0]->isChecked() ? 0 : 1;
        s.winmodedc = OptDiscWin[0]->isChecked() ? 0 : 1;
        for (int i = 0; i < kHolidayEntries; ++i) s.HolidayTable[i] = S(TxtHoliday[i]->text());
        s.hvmode = 1;
        s.sohotime = CheckValue(ChkTimeSet);
        s.sohokcode = CheckValue(ChkKcodeSet);
        s.debuglog = CheckValue(ChkDbgLog);
        s.notify = CheckValue(ChkNotify);
        s.traytip = CheckValue(ChkTrayTip);
        s.autostart = CheckValue(ChkAutoStart);
        // Opens the trace now when it has just been switched on.
        trace.SetEnabled(s.debuglog != 0);
        trace.Open();
        for (int i = 0; i < kRunnerSlots; ++i) {
            s.runid[i] = S(TxtRunPG[i]->text());
            s.runstop[i] = CheckValue(ChkPGEnd[i]);
            s.runenab[i] = CheckValue(ChkEnab[i]);
        }
    } else {
        loading_ = true;
        SetBoxText(TxtSOHOIP, s.sohoip);
        SetBoxText(TxtSOHOPW, s.sohowp);
        SetBoxText(TxtSecA, FormatSettingInt(s.seca));
        SetBoxText(TxtSecB, FormatSettingInt(s.secb));
        SetBoxText(TxtSecC, FormatSettingInt(s.secc));
        SetBoxText(TxtTani, FormatSettingInt(s.ctanni));
        SetBoxText(TxtConnectNo, FormatSettingInt(s.cnctno));
        SetBoxText(TxtCutTime, FormatSettingInt(s.atcuttm));
        SetCheck(ChkAutoCut, s.atcutmode);
        SetBoxText(TxtDelay, FormatSettingInt(s.atcutdly));
        SetBoxText(TxtStartDay, FormatSettingInt(s.telstday));
        SetCheck(ChkTeleho, s.teleho);
        // A slider cannot show a value outside 1000..10000: it stops at its end while the box
        // keeps the record's value, so OK stores what was there.
        auto interval = [](QLineEdit* box, QSlider* slider, int16_t value) {
            slider->setValue(value);
            SetBoxText(box, FormatSettingInt(value));
        };
        SetBoxText(TxtSOHOInt, FormatSettingInt(s.sohoint));
        SetBoxText(TxtSOHO2Int, FormatSettingInt(s.soho2int));
        interval(TxtSOHOInt, SldSOHOInt, s.sohoint);
        interval(TxtSOHO2Int, SldSOHO2Int, s.soho2int);
        SetBoxText(TxtDSPInt, FormatSettingInt(s.dspint));
        interval(TxtDSPInt, SldDspInt, s.dspint);
        SetCheck(ChkTopDsp, s.dsptop);
        SetCheck(ChkTrans, s.dsptrans);
        SetCheck(ChkInfo, s.dspinfo);
        SetCheck(ChkLineCut, s.linecut);
        SelectOption(OptDosuu, s.dosuumode);
        SelectOption(OptStartWin, s.winmodes);
        SelectOption(OptConctWin, s.winmodec);
        SelectOption(OptDiscWin, s.winmodedc);
        for (int i = 0; i < kHolidayEntries; ++i) SetBoxText(TxtHoliday[i], s.HolidayTable[i]);
        SetCheck(ChkTimeSet, s.sohotime);
        SetCheck(ChkKcodeSet, s.sohokcode);
        SetCheck(ChkDbgLog, s.debuglog);
        SetCheck(ChkNotify, s.notify);
        SetCheck(ChkTrayTip, s.traytip);
        SetCheck(ChkAutoStart, s.autostart);
        for (int i = 0; i < kRunnerSlots; ++i) {
            SetBoxText(TxtRunPG[i], s.runid[i]);
            SetCheck(ChkPGEnd[i], s.runstop[i]);
            SetCheck(ChkEnab[i], s.runenab[i]);
        }
        loading_ = false;
    }
    host_.ApplyIntervals();
    trace.Step("SetupCopy-end");
    return true;
}

void FrmSetup::Form_Load() {
    // No router polling while the settings are edited.
    host_.SetPolling(false);
    SSTab1->setCurrentIndex(0);
    SetupCopy(2);
    changed_ = false;
}

void FrmSetup::ResumePollingAndClose(int result) {
    host_.SetPolling(true);
    QDialog::done(result);
}

void FrmSetup::NotStored() {
    const std::string why = host_.StoreError();
    Ask(std::string("設定を保存できませんでした") + (why.empty() ? "" : "\n" + why), kTitle,
        MsgIcon::Critical, MsgButtons::Ok);
}

void FrmSetup::BtnOK_Click() {
    if (!SetupCopy(1)) return;
    if (!host_.StoreRecord()) {
        // The dialog stays open: the user may try again or cancel, knowing it was not stored.
        NotStored();
        return;
    }
    changed_ = false;
    ResumePollingAndClose(QDialog::Accepted);
}

void FrmSetup::BtnUPDT_Click() {
    if (!SetupCopy(1)) return;
    if (!host_.StoreRecord()) {
        NotStored();
        return;
    }
    // What is shown is now stored: a later "キャンセル" has nothing to discard.
    changed_ = false;
}

void FrmSetup::BtnCCL_Click() {
    if (changed_ && Ask("変更を破棄しますか", "変更破棄", MsgIcon::Question,
                        MsgButtons::OkCancel) != MsgResult::Ok)
        return;
    ResumePollingAndClose(QDialog::Rejected);
}

void FrmSetup::reject() {
    BtnCCL_Click();
}

void FrmSetup::BtnDir_Click(int index) {
    if (index < 0 || index >= kRunnerSlots) return;
    const std::optional<QString> chosen = chooser_(this, TxtRunPG[index]->text());
    if (chosen) TxtRunPG[index]->setText(*chosen);
}

void FrmSetup::SldSOHOInt_Change(int value) {
    TxtSOHOInt->setText(QString::number(value));
}
void FrmSetup::SldSOHO2Int_Change(int value) {
    TxtSOHO2Int->setText(QString::number(value));
}
void FrmSetup::SldDspInt_Change(int value) {
    TxtDSPInt->setText(QString::number(value));
}

}  // namespace kv
