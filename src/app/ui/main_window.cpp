// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/main_window.h"

#include "platform/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QWindow>
#include <algorithm>

#include "app/commands.h"
#include "app/startup.h"
#include "app/ui/frm_mnu.h"
#include "app/ui/frm_msg.h"
#include "app/ui/qt_ports.h"
#include "platform/qt_message_box.h"

namespace kv {

namespace {

// A Japanese fixed-width Gothic face, whichever of the usual ones is installed.
QFont GothicFont(int pointSize) {
    QFont f;
    f.setFamilies({QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("IPAGothic"),
                   QStringLiteral("IPAexGothic"), QStringLiteral("VL Gothic"),
                   QStringLiteral("Noto Sans CJK JP"), QStringLiteral("monospace")});
    f.setStyleHint(QFont::TypeWriter);
    f.setPointSize(pointSize);
    return f;
}

// The amounts come as "\" + number, the byte the Japanese Windows fonts draw as the yen sign;
// the fonts here draw a backslash, so the window shows the yen sign itself.
QString Shown(const std::string& s) {
    return Q(s).replace(QLatin1Char('\\'), QChar(0x00A5));
}

QRect Twips(int left, int top, int width, int height) {
    return QRect(Kestrovan::TwipsToPixels(left), Kestrovan::TwipsToPixels(top),
                 Kestrovan::TwipsToPixels(width), Kestrovan::TwipsToPixels(height));
}

// Colours are kept as the system keeps them: red in the low byte, blue in the high one.
QString CssColour(uint32_t colour) {
    return QStringLiteral("rgb(%1,%2,%3)")
        .arg(colour & 0xFF)
        .arg((colour >> 8) & 0xFF)
        .arg((colour >> 16) & 0xFF);
}

// A read-out or heading keeps its type size unless its text would not fit its box (a larger
// font setting, a longer text): then the largest size that fits.
void FitFont(QLabel* label, const QFont& base) {
    const QString text = label->text();
    const QRect box = label->contentsRect();
    const int width = box.width() - std::max(0, label->indent());
    QFont f = base;
    qreal size = f.pointSizeF();
    for (; size > 4; size -= 0.5) {
        f.setPointSizeF(size);
        const QFontMetrics m(f);
        if (text.isEmpty() || (m.horizontalAdvance(text) <= width &&
                               m.tightBoundingRect(text).height() <= box.height()))
            break;
    }
    if (label->font() != f) label->setFont(f);
}

// The same for a check box's caption beside its box.
void FitFont(QCheckBox* box) {
    const int room = box->width() - box->style()->pixelMetric(QStyle::PM_IndicatorWidth) -
                     box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) - 2;
    QFont f = box->font();
    for (qreal size = f.pointSizeF();
         size > 4 && QFontMetrics(f).horizontalAdvance(box->text()) > room; size -= 0.5)
        f.setPointSizeF(size - 0.5);
    if (box->font() != f) box->setFont(f);
}

}  // namespace

int Kestrovan::TwipsToPixels(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

Kestrovan::Kestrovan() : QMainWindow(nullptr) {
    setObjectName(QStringLiteral("Kestrovan"));
    setWindowTitle(QStringLiteral("Kestrovan"));
    setFont(GothicFont(9));
    setWindowIcon(FrmMnu::ProgramIcon());
    BuildControls();
    BuildMenus();
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar1"));
    statusBar_->setSizeGripEnabled(false);
    setStatusBar(statusBar_);
    msg_ = new FrmMSG();
    // The first start places the window through the position store; this is only its size
    // until then.
    resize(TwipsToPixels(kMainWindowWidthTwips), TwipsToPixels(3890));
}

Kestrovan::~Kestrovan() {
    delete msg_;
}

QLabel* Kestrovan::MakeLcd(int n, int left, int top, int width, int height, const char* tip) {
    auto* l = new QLabel(centralWidget());
    l->setObjectName(QStringLiteral("LCD%1").arg(n));
    l->setGeometry(Twips(left, top, width, height));
    l->setAutoFillBackground(true);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (tip) l->setToolTip(QString::fromUtf8(tip));
    l->setProperty("baseFont", l->font());
    lcd_[n] = l;
    lcdColour_[n] = kColourGreen;
    ApplyLcdStyle(n);
    return l;
}

void Kestrovan::ApplyLcdStyle(int n) {
    lcd_[n]->setStyleSheet(QStringLiteral("QLabel { color: %1; background-color: black; }")
                               .arg(CssColour(live_ ? lcdColour_[n] : kColourGrey)));
}

QLabel* Kestrovan::MakeLabel(const char* name, const char* text, int left, int top, int width,
                             int height) {
    auto* l = new QLabel(QString::fromUtf8(text), centralWidget());
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(Twips(left, top, width, height));
    // The headings are 15 pixels high. They sit on the separator lines, covering them where
    // their text is, so no line runs through a heading.
    l->setFont(GothicFont(8));
    l->setProperty("baseFont", l->font());
    l->setAutoFillBackground(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    l->setContentsMargins(1, 0, 2, 0);
    l->resize(std::min(l->width(), l->sizeHint().width()), l->height());
    return l;
}

void Kestrovan::MakeSeparator(int n, int top) {
    auto* line = new QFrame(centralWidget());
    line->setObjectName(QStringLiteral("Line%1").arg(n));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, TwipsToPixels(top) - 1, TwipsToPixels(1740), 3);
    // Beneath every control, as lines are drawn on a form.
    line->lower();
}

void Kestrovan::FitLabel(QLabel* label) {
    FitFont(label, label->property("baseFont").value<QFont>());
}

void Kestrovan::BuildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    auto button = [&](QPushButton*& b, const char* name, const char* text, QRect r) {
        b = new QPushButton(QString::fromUtf8(text), client);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        b->setFocusPolicy(Qt::NoFocus);
    };
    button(btnConnect_, "BtnConnect", "接", Twips(0, 0, 360, 360));
    button(btnDisConnect_, "BtnDisConnect", "切", Twips(360, 0, 360, 360));
    button(btnSize_, "BtnSize", "長", Twips(720, 0, 360, 360));
    chkAutoMode_ = new QCheckBox(QStringLiteral("自動"), client);
    chkAutoMode_->setObjectName(QStringLiteral("ChkAutoMode"));
    chkAutoMode_->setGeometry(Twips(1080, 0, 675, 375));
    chkTopDsp_ = new QCheckBox(QStringLiteral("Top"), client);
    chkTopDsp_->setObjectName(QStringLiteral("ChkTopDsp"));
    chkTopDsp_->setToolTip(QStringLiteral("最前面表示"));
    chkTopDsp_->setGeometry(Twips(1080, 360, 675, 230));
    chkTopDsp_->setFont(GothicFont(7));

    MakeLcd(0, 60, 360, 975, 255, nullptr);
    QLabel* lcd1 = MakeLcd(1, 60, 660, 1665, 435, "今回の接続秒数");
    lcd1->setFont(GothicFont(18));
    lcd1->setProperty("baseFont", lcd1->font());
    // The seconds stand at the right, clear of the tariff mode in the lower left corner.
    lcd1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lcd1->setContentsMargins(TwipsToPixels(255 - 60) + 2, 0, 2, 0);
    QLabel* lcd11 = MakeLcd(11, 120, 840, 135, 195, nullptr);
    lcd11->setAlignment(Qt::AlignCenter);
    lcd11->raise();
    labels_[2] = MakeLabel("Lbl2", "今回", 50, 1095, 450, 225);
    labels_[3] = MakeLabel("Lbl3", "当月累積", 900, 1090, 810, 225);
    MakeSeparator(1, 1200);
    MakeLcd(2, 60, 1320, 795, 375, "今回の課金");
    MakeLcd(3, 900, 1320, 855, 375, "今月の課金");
    labels_[5] = MakeLabel("Lbl5", "次課金", 50, 1695, 690, 225);
    labels_[6] = MakeLabel("Lbl6", "無通信", 900, 1690, 690, 225);
    MakeSeparator(2, 1800);
    MakeLcd(5, 60, 1920, 795, 375, "次の課金までの秒数 赤色の時は課金５秒前に自動切断");
    MakeLcd(6, 900, 1920, 855, 375, "無通信秒数");
    labels_[7] = MakeLabel("Lbl7", "使用率", 50, 2295, 690, 225);
    // Between the read-outs above and below, side by side, rather than a pixel over each.
    button(btnDebug_, "BtnDEBUG", "debug", Twips(780, 2295, 600, 225));
    button(btnMsg_, "BtnMsg", "窓", Twips(1380, 2295, 375, 225));
    MakeSeparator(3, 2400);
    MakeLcd(7, 60, 2520, 1680, 375, "送信/受信/BOD");
    MakeSeparator(4, 3000);
    // The connect time right under its line, so the tallest step shows it.
    MakeLcd(8, 50, 3060, 1695, 375, nullptr);
    MakeLcd(9, 50, 3840, 1695, 375, nullptr);
    MakeLcd(10, 50, 4200, 1695, 375, nullptr);
    // LCD4 is not part of the window.
    lcd_[4] = nullptr;
    // The small buttons of the usage row stand above the read-outs they touch.
    btnDebug_->raise();
    btnMsg_->raise();
    for (QPushButton* b : {btnDebug_, btnMsg_}) b->setFont(GothicFont(8));
    for (QLabel* l : lcd_)
        if (l) FitLabel(l);
    for (const auto& [n, l] : labels_) FitLabel(l);
    FitFont(chkAutoMode_);
    FitFont(chkTopDsp_);
    client->installEventFilter(this);

    for (QWidget* w : std::initializer_list<QWidget*>{btnConnect_, btnDisConnect_, btnSize_,
                                                      chkAutoMode_, chkTopDsp_}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    labels_[3]->installEventFilter(this);
    lcd_[3]->installEventFilter(this);
    lcd_[0]->installEventFilter(this);

    connect(btnConnect_, &QPushButton::clicked, this, [this] { BtnConnect_Click(Cx()); });
    connect(btnDisConnect_, &QPushButton::clicked, this, [this] { BtnDisConnect_Click(Cx()); });
    connect(btnSize_, &QPushButton::clicked, this, [this] {
        const std::optional<int> height = BtnSize_Click(Cx());
        if (height)
            SetClientHeightTwips(*height);
        else
            resize(TwipsToPixels(kMainWindowWidthTwips), this->height());
        // Drawn at once; no events are handled inside the click.
        repaint();
    });
    connect(btnMsg_, &QPushButton::clicked, this, [this] { BtnMsg_Click(Cx()); });
    connect(btnDebug_, &QPushButton::clicked, this, [this] { BtnDEBUG_Click(Cx()); });
    connect(chkAutoMode_, &QCheckBox::clicked, this, [this] { ChkAutoMode_Click(Cx()); });
    connect(chkTopDsp_, &QCheckBox::clicked, this,
            [this](bool checked) { ChkTopDsp_Click(Cx(), checked ? 1 : 0); });
}

void Kestrovan::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MenuBar"));
    auto menu = [&](const char* name, const char* title) {
        QMenu* m = bar->addMenu(QString::fromUtf8(title));
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [&](QMenu* m, const char* name, const char* text, std::function<void()> fn) {
        QAction* a = m->addAction(QString::fromUtf8(text));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
        return a;
    };
    QMenu* setup = menu("mnuSETUP", "設定");
    item(setup, "mnuInit", "基本設定", [this] { mnuInit_Click(Cx()); });
    item(setup, "mnuSOHO", "SOHO表示", [this] { mnuSOHO_Click(Cx()); });
    setup->addSeparator();
    // The check marks belong to the handlers: undo Qt's own toggle before they run.
    mnuCutBrk_ = item(setup, "mnuCutBrk", "自動切断一時解除", [this] {
        mnuCutBrk_->setChecked(!mnuCutBrk_->isChecked());
        mnuCutBrk_Click(Cx());
    });
    mnuCutBrk_->setCheckable(true);
    mnuWinend_ = item(setup, "mnuWinend", "切断後Win終了", [this] {
        mnuWinend_->setChecked(!mnuWinend_->isChecked());
        mnuWinend_Click(Cx());
    });
    mnuWinend_->setCheckable(true);
    setup->addSeparator();
    item(setup, "mnuEnd", "終了", [this] { mnuEnd_Click(Cx()); });

    QMenu* dsp = menu("mnuDSP", "表示");
    item(dsp, "mnuLastInfo", "LastInformation", [this] { mnuLastInfo_Click(Cx()); });
    item(dsp, "mnuB0", "表示切替(Auto)", [this] { mnuB0_Click(Cx()); });
    item(dsp, "mnuB12", "表示切替(B1-B2)", [this] { mnuB12_Click(Cx()); });
    item(dsp, "mnuLOG", "接続ログ", [this] { mnuLOG_Click(Cx()); });

    QMenu* other = menu("mnuHOKA", "他");
    item(other, "mnuHELP", "ヘルプ", [this] { mnuHELP_Click(Cx()); });
    item(other, "mnuVER", "バージョン", [this] { mnuVER_Click(Cx()); });
}

void Kestrovan::SetClientHeightTwips(int twips) {
    // The height steps measure the area under the menu bar, status bar included, so each step
    // uncovers whole rows whatever height the menu bar has here.
    const int menu = menuBar()->isVisible() ? menuBar()->height() : menuBar()->sizeHint().height();
    resize(TwipsToPixels(kMainWindowWidthTwips), menu + TwipsToPixels(twips));
}

bool Kestrovan::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == centralWidget() && type == QEvent::Resize) {
        // A heading or small button cut by the status bar is a stray stroke, not a control:
        // only whole ones are shown.
        const int bottom = centralWidget()->height();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 labels_[2], labels_[3], labels_[5], labels_[6], labels_[7], btnDebug_, btnMsg_})
            w->setVisible(w->geometry().bottom() < bottom);
    }
    if (!cx_) return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::Enter || type == QEvent::MouseMove) {
        const std::string hint = HintFor(watched->objectName().toStdString());
        if (!hint.empty()) ShowHint(Cx(), hint);
    } else if (type == QEvent::MouseButtonRelease) {
        if (watched == labels_[3]) Lbl3_Click(Cx());
        if (watched == lcd_[3]) LCD3_Click(Cx());
    } else if (type == QEvent::MouseButtonDblClick && watched == lcd_[0]) {
        LCD0_DblClick(Cx());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Kestrovan::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    Form_QueryUnload(Cx(), cancel, UnloadMode::UserClose);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

// ---- MainView -----------------------------------------------------------------------------

void Kestrovan::SetLcdText(int lcd, const std::string& text) {
    if (lcd < 0 || lcd >= 12 || !lcd_[lcd]) return;
    const QString shown = Shown(text);
    if (lcd_[lcd]->text() == shown) return;
    lcd_[lcd]->setText(shown);
    FitLabel(lcd_[lcd]);
}

void Kestrovan::SetLcdColour(int lcd, uint32_t colour) {
    if (lcd < 0 || lcd >= 12 || !lcd_[lcd] || lcdColour_[lcd] == colour) return;
    lcdColour_[lcd] = colour;
    ApplyLcdStyle(lcd);
}

void Kestrovan::SetFiguresLive(bool live) {
    if (live_ == live) return;
    live_ = live;
    for (int n = 0; n < 12; ++n)
        if (lcd_[n]) ApplyLcdStyle(n);
}

void Kestrovan::SetLabelCaption(int label, const std::string& text) {
    const auto it = labels_.find(label);
    if (it == labels_.end()) return;
    QLabel* l = it->second;
    l->setText(Q(text));
    FitLabel(l);
}

void Kestrovan::SetWindowCaption(const std::string& text) {
    setWindowTitle(Q(text));
}

void Kestrovan::SetStatusText(const std::string& text) {
    statusBar_->showMessage(Shown(text));
}

void Kestrovan::ShowMainWindow(bool restoreNormal) {
    if (restoreNormal)
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void Kestrovan::HideMainWindow() {
    hide();
}

void Kestrovan::MinimizeMainWindow() {
    showMinimized();
}

void Kestrovan::SetTopmost(bool on) {
    Qt::WindowFlags flags = windowFlags();
    if (flags.testFlag(Qt::WindowStaysOnTopHint) == on) return;
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    // setWindowFlag would recreate the window: it is hidden (a window that is to stay hidden
    // at start must not flash up) and comes back by its client corner, not its frame's, so
    // it crept down by the title bar. The platform window takes the flag as it is.
    overrideWindowFlags(flags);
    if (QWindow* handle = windowHandle()) handle->setFlags(flags);
}

void Kestrovan::SetMenuChecked(MenuItem item, bool checked) {
    switch (item) {
        case MenuItem::MainCutBrk: mnuCutBrk_->setChecked(checked); break;
        case MenuItem::MainWinend: mnuWinend_->setChecked(checked); break;
        case MenuItem::TrayCutBrk:
        case MenuItem::TrayRight3:
            trayChecks_[item] = checked;
            if (trayCheck_) trayCheck_(item, checked);
            break;
    }
}

bool Kestrovan::MenuChecked(MenuItem item) const {
    switch (item) {
        case MenuItem::MainCutBrk: return mnuCutBrk_->isChecked();
        case MenuItem::MainWinend: return mnuWinend_->isChecked();
        default: {
            const auto it = trayChecks_.find(item);
            return it != trayChecks_.end() && it->second;
        }
    }
}

void Kestrovan::SetCheckBox(CheckBox box, int value) {
    QCheckBox* b = box == CheckBox::ChkAutoMode ? chkAutoMode_ : chkTopDsp_;
    const bool on = value != 0;
    if (b->isChecked() == on) return;
    b->setChecked(on);
    // A change made by the program runs the click handler, as a click would.
    if (box == CheckBox::ChkAutoMode)
        ChkAutoMode_Click(Cx());
    else
        ChkTopDsp_Click(Cx(), on ? 1 : 0);
}

void Kestrovan::ShowCheckBox(CheckBox box, int value) {
    (box == CheckBox::ChkAutoMode ? chkAutoMode_ : chkTopDsp_)->setChecked(value != 0);
}

int Kestrovan::CheckBoxValue(CheckBox box) const {
    return (box == CheckBox::ChkAutoMode ? chkAutoMode_ : chkTopDsp_)->isChecked() ? 1 : 0;
}

MsgResult Kestrovan::MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                MsgButtons buttons) {
    return ShowMessageBox(isVisible() ? this : nullptr, text, title, icon, buttons);
}

void Kestrovan::ShowNotice(const std::string& text, std::function<void()> silenced) {
    if (LogInsteadOfShowing(text, "Kestrovan", MsgButtons::Ok)) return;
    // Not modal and not waited for: whatever runs meanwhile (the login, the polls) goes on.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Kestrovan"), Q(text),
                                QMessageBox::Ok, isVisible() ? this : nullptr);
    box->setObjectName(QStringLiteral("Notice"));
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowIcon(windowIcon());
    auto* silence = new QCheckBox(QStringLiteral("次回から表示しない"), box);
    silence->setObjectName(QStringLiteral("ChkSilence"));
    box->setCheckBox(silence);
    connect(box, &QMessageBox::finished, this, [silence, silenced = std::move(silenced)] {
        if (silence->isChecked() && silenced) silenced();
    });
    box->show();
    box->raise();
}

void Kestrovan::ShowMessageWindow() {
    // Beside the main window, so a message does not cover the read-outs.
    if (!msg_->isVisible() && isVisible())
        msg_->move(frameGeometry().right() + 8, frameGeometry().top());
    msg_->show();
    msg_->raise();
}

void Kestrovan::CloseMessageWindow() {
    msg_->hide();
}

void Kestrovan::SetMessageText(const std::string& text) {
    msg_->SetText(Q(text));
}

}  // namespace kv
