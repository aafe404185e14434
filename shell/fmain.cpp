#include "shell/fmain.h"

#include "shell/journal.h"

#include "links/dialup.h"
#include "links/link.h"
#include "links/ras.h"
#include "links/socket.h"
#include "links/tcp.h"
#include "links/x25.h"
#include "dialogues/dialogue.h"
#include "timora/timora.h"
#include "settings/fseaded.h"
#include "settings/known.h"
#include "shell/console.h"
#include "shell/layout.h"
#include "shell/print.h"
#include "shell/twips.h"
#include "store/admin_log.h"
#include "store/db.h"
#include "store/transfiles.h"
#include "support/carddata.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/msgbox.h"
#include "support/text.h"
#include "support/visuals.h"
#include "support/wait.h"
#include "transactions/flows.h"
#include "workstation/connections.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace tollan {

namespace {

// How long a stopping terminal gives the work under way to wind down.
constexpr qint64 kSettleMs = 10000;

constexpr const char* kFormName = "fMain";

QPixmap TrafficPicture(const QColor& light)
{
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(QPen(Qt::darkGray, 2));
    g.drawLine(4, 16, 28, 16);  // the line to the registers
    g.setBrush(light);
    g.drawEllipse(QRect(8, 8, 16, 16));
    return p;
}

} // namespace

ImageList::ImageList(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("ImageList1"));
    images_ << TrafficPicture(QColor(90, 170, 90)) << TrafficPicture(QColor(220, 60, 40));
}

QPixmap ImageList::image(int index) const
{
    return index >= 1 && index <= images_.size() ? images_[index - 1] : QPixmap();
}

fMain::fMain(QWidget* parent)
    : QWidget(parent), ImageList1_(new ImageList(this)), Timora1_(new Timora(this)),
      MSComm1_(new QSerialPort(this))
{
    setObjectName(QString::fromLatin1(kFormName));
    // Nothing runs from the schedule until start-up has loaded it.
    Timora1_->Enabled(false);
    Timora1_->setObjectName(QStringLiteral("Timora1"));
    Timora1_->hide();
    connect(Timora1_, &Timora::Alert, this, [this](QString& c, QString& a) { Timora1_Alert(c, a); });
    connect(Timora1_, &Timora::Timer, this, &fMain::Timora1_Timer);
    MSComm1_->setObjectName(QStringLiteral("MSComm1"));
    // Cancellations whose verdict never came are finished first: a file must not settle a purchase
    // the card centre may have reversed.
    sendTransFiles = []() -> Task<int> {
        co_await Trans_FinishPendingCancellations();
        co_return co_await KK_SendTransFiles();
    };
    finishUnfinished = []() -> Task<int> {
        co_await Trans_FinishPendingCancellations();
        co_return co_await KK_SendTransFiles(true);
    };
    printDocument = [](const std::string& text) { return Print_Document(text); };
    openSettings = [](QWidget* parent) -> QWidget* {
        auto* dialog = new fSeaded(parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        return dialog;
    };
    BuildLayout();
    BuildMenu();
}

fMain::~fMain()
{
    Ui_SetMainWindow(nullptr);
    if (console_) console_->lose();
    if (X25_IsAttached()) X25_Attach(nullptr);
}

void fMain::BuildLayout()
{
    for (const LayoutPart& p : MainWindow_Layout()) {
        const QString caption = QString::fromUtf8(p.caption);
        QWidget* w = nullptr;
        QWidget* parent = p.kind == PartKind::Frame ? static_cast<QWidget*>(this) : frames_[p.frame];
        switch (p.kind) {
        case PartKind::Frame: {
            auto* f = new QGroupBox(caption, parent);
            f->setProperty("index", p.frame);
            frames_[p.frame] = f;
            w = f;
            break;
        }
        case PartKind::Picture: {
            auto* l = new QLabel(parent);
            l->setAlignment(Qt::AlignCenter);
            w = l;
            break;
        }
        case PartKind::Button:
            w = new QPushButton(caption, parent);
            break;
        case PartKind::Label:
        case PartKind::Status: {
            auto* l = new QLabel(caption, parent);
            if (p.kind == PartKind::Status) l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
            w = l;
            break;
        }
        case PartKind::Field:
            w = new QLineEdit(parent);
            break;
        }
        w->setObjectName(QString::fromLatin1(p.name));
        w->setGeometry(Twips_ToPxX(p.left), Twips_ToPxY(p.top), Twips_ToPxX(p.width), Twips_ToPxY(p.height));
    }
    // The label's mnemonics lead to their fields; the error's label to the error itself, whose
    // click (or Enter) opens its details.
    Label("lbKaart")->setBuddy(Part("tKaart"));
    Label("lbSumma")->setBuddy(Part("tSumma"));
    Label("lbViga")->setBuddy(Part("lError"));
    QLabel* lError = Label("lError");
    lError->setFocusPolicy(Qt::StrongFocus);
    lError->setCursor(Qt::PointingHandCursor);
    lError->installEventFilter(this);
    // A card reader types the card text and Enter: on to the amount; Enter there is "Tehing".
    auto* card = static_cast<QLineEdit*>(Part("tKaart"));
    auto* amount = static_cast<QLineEdit*>(Part("tSumma"));
    card->setPlaceholderText(QString::fromUtf8("kaardi number=AAKK…"));
    connect(card, &QLineEdit::returnPressed, amount, qOverload<>(&QWidget::setFocus));
    // The number, not the end of the card text, stays in view once the field is left.
    connect(card, &QLineEdit::editingFinished, card, [card] { card->setCursorPosition(0); });
    connect(amount, &QLineEdit::returnPressed, this, [this] { static_cast<QPushButton*>(Part("cTehing"))->click(); });
    setTabOrder(card, amount);
    setTabOrder(amount, Part("cTehing"));
    setTabOrder(Part("cTehing"), Part("cTyhista"));
    // Shift+F10 opens the menu wherever the focus is.
    auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    menuKey->setContext(Qt::WindowShortcut);
    connect(menuKey, &QShortcut::activated, this, [this] { PopUpMenu(mapToGlobal(QPoint(0, 0))); });
    // The journal by a key, wherever the focus is.
    auto* journalKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_J), this);
    journalKey->setContext(Qt::WindowShortcut);
    connect(journalKey, &QShortcut::activated, this, &fMain::mTooPaevik_Click);

    auto* errShow = new QPushButton(QStringLiteral("ErrShow"), this);
    errShow->setObjectName(QStringLiteral("cErrShow"));
    errShow->hide();
    connect(errShow, &QPushButton::clicked, this, &fMain::cErrShow_Click);

    connect(static_cast<QPushButton*>(Part("cErrLog")), &QPushButton::clicked, this, &fMain::cErrLog_Click);
    connect(static_cast<QPushButton*>(Part("cMenu")), &QPushButton::clicked, this, &fMain::cMenu_Click);
    connect(static_cast<QPushButton*>(Part("cTehing")), &QPushButton::clicked, this, &fMain::cTehing_Click);
    connect(static_cast<QPushButton*>(Part("cTyhista")), &QPushButton::clicked, this, &fMain::cTyhista_Click);
}

void fMain::BuildMenu()
{
    mToo_ = new QMenu(QString::fromUtf8("Töö"), this);
    mToo_->setObjectName(QStringLiteral("mToo"));
    const struct {
        const char* name;
        const char* caption;
        void (fMain::*handler)();
    } items[] = {
        {"mTooSeaded", "S&eadista", &fMain::mTooSeaded_Click},
        {nullptr, nullptr, nullptr},
        {"mTooSendFile", "&Saada tehingud", &fMain::mTooSendFile_Click},
        {"mTooVead", "&Vigade arhiiv", &fMain::mTooVead_Click},
        {"mTooPaevik", "&Päevik\tCtrl+J", &fMain::mTooPaevik_Click},
        {nullptr, nullptr, nullptr},
        {"mTooLopp", "&Lõpp", &fMain::mTooLopp_Click},
    };
    for (const auto& i : items) {
        if (!i.name) {
            mToo_->addSeparator();
            continue;
        }
        QAction* a = mToo_->addAction(QString::fromUtf8(i.caption));
        a->setObjectName(QString::fromLatin1(i.name));
        connect(a, &QAction::triggered, this, i.handler);
    }
}

QWidget* fMain::Part(const char* name) const { return findChild<QWidget*>(QString::fromLatin1(name)); }
QLabel* fMain::Label(const char* name) const { return findChild<QLabel*>(QString::fromLatin1(name)); }

void fMain::ShowTraffic(int image)
{
    auto* p = Label("pTraffic");
    p->setPixmap(ImageList1_->image(image));
    p->setProperty("Picture", image);
}

void fMain::PlaceFrames()
{
    QGroupBox* f0 = frames_[0];
    QGroupBox* f1 = frames_[1];
    f1->show();
    // In twips, as the frames were drawn: frame 1 overlaps frame 0 by one line.
    const int top0 = 0;
    const int height0 = Twips_FromPxY(f0->height());
    const int top1 = top0 + height0 - 15;
    int windowHeight = top1 + 420;
    windowHeight = Twips_FromPxY(f1->height()) + windowHeight - 15;
    const int windowWidth = Twips_FromPxX(f1->width()) + 90;
    f0->move(f0->x(), Twips_ToPxY(top0));
    f1->move(f1->x(), Twips_ToPxY(top1));
    setFixedSize(Twips_ToPxX(windowWidth), Twips_ToPxY(windowHeight - kWindowChromeTwips));
    setProperty("HeightTwips", windowHeight);
}

void fMain::PlaceWindow()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenHeight = screen ? Twips_FromPxY(screen->geometry().height()) : 0;
    const int windowHeight = property("HeightTwips").toInt();
    const std::string key = kFormName;
    const std::string byDefault = std::to_string(screenHeight - windowHeight - 300);
    const double left = Num_Value(Cfg_Get(key + ".Left", "300"));
    const double top = Num_Value(Cfg_Get(key + ".Top", byDefault));
    const QPoint saved(Twips_ToPxX(int(left)), Twips_ToPxY(int(top)));
    // A position saved on a screen that is gone (a second monitor unplugged, a smaller one) would
    // open the window where nobody sees it: then it opens where a first start puts it. Enough of
    // it to take hold of must lie on some screen.
    const QRect title(saved, QSize(std::min(width(), 160), 32));
    const auto screens = QGuiApplication::screens();
    const bool seen = std::any_of(screens.begin(), screens.end(), [&title](const QScreen* s) {
        const QRect on = s->availableGeometry().intersected(title);
        return on.width() >= std::min(title.width(), 64) && on.height() >= 16;
    });
    move(seen || screens.isEmpty() ? saved : QPoint(Twips_ToPxX(300), Twips_ToPxY(int(Num_Value(byDefault)))));
}

void fMain::LoadSchedule()
{
    Timora1_->Clear();
    for (int n = 1;; ++n) {
        const std::string mask = Cfg_Get("SendTransTime" + std::to_string(n), "");
        if (mask.empty()) break;
        Timora1_->Insert(Text_ToQString(mask), QStringLiteral("side"), QString());
    }
}

std::string fMain::StartLine() const
{
    std::string line = Ui_Headless() ? "running headless" : "running with a window";
    line += ", home " + Text_FromQString(Home_Dir());
    const Listener& listener = service_->listener();
    if (listener.state() == kSockListening) {
        QStringList at;
        for (const QHostAddress& a : listener.addresses())
            at << (a == QHostAddress::Any || a == QHostAddress::AnyIPv6 ? QStringLiteral("every interface") : a.toString());
        line += ", port " + std::to_string(service_->port()) + " on " +
                Text_FromQString(at.isEmpty() ? QStringLiteral("every interface") : at.join(QStringLiteral(" and ")));
    } else {
        line += ", not listening (port " + Cfg_Lookup("Port", "1280") + ")";
    }
    auto shown = [](const std::string& a) { return a.empty() ? std::string("(none)") : a; };
    if (Link_UsesX25()) {
        line += ", card centre X.25 " + shown(Cfg_Lookup("X25\\Auth_Address", "")) + " and " +
                shown(Cfg_Lookup("X25\\Trans_Address", "")) + " over the modem on " +
                Text_FromQString(X25_PortName(Cfg_Lookup("X25\\CommPort", "1")));
    } else {
        line += ", card centre " + shown(Cfg_Lookup("Tollan_Auth_Address", "")) + " and " +
                shown(Cfg_Lookup("Tollan_Trans_Address", "")) + " over " +
                (Num_Value(Cfg_Lookup("UseTLS", "0")) != 0 ? "TLS" : "TCP") +
                (Num_Value(Cfg_Lookup("UseRAS", "0")) != 0 ? " after dial-up" : "");
    }
    return line;
}

void fMain::CheckSettings()
{
    // Said before a register is served, each where the administrator looks: a setting that
    // cannot work otherwise fails far from its cause, at the first purchase or the first send.
    for (const SettingProblem& p : Settings_Check()) {
        if (!Ui_Headless()) std::fprintf(stderr, "tollan: %s\n", Settings_Line(p, false).c_str());
        Err_Report(87, Text_Utf8ToCp1252(Settings_Line(p, false)), Text_Utf8ToCp1252(Settings_Line(p, true)), 48);
    }
}

void fMain::SetUpSerialPort()
{
    // Settings the port refuses have been reported; the link then stays without a port and its
    // connects fail, and the terminal goes on serving the registers.
    if (X25_SetUpPort(*MSComm1_)) X25_Attach(MSComm1_);
}

void fMain::OpenCardKey()
{
    // A key file missing while rows need it is never replaced by a new key: those rows would be
    // lost. Without a usable key the terminal refuses card data and sends no file until it has one.
    const CardKeySource source = CardKey_Source(cardKeyFile);
    bool created = false;
    std::string why;
    if (!CardKey_Open(source, !Db_HoldsSealedCardData(), &created, why)) {
        CardKey_SetUnusable(why);
        CardKey_Report(why);
    } else if (created) {
        Log_Event("card key created: " + Text_FromQString(source.path));
    }
    Db_SecureCardData();
}

void fMain::Form_Load()
{
    if (loaded_) return;
    loaded_ = true;
    setWindowTitle(Text_ToQString(App_ProductName()));                  // 1
    Cfg_SetRoot(kCfgRoot);                                              // 2
    Visual_Register(Part("cErrShow"), 4, "ERRORSHOW");                  // 3
    PlaceFrames();                                                      // 4
    ShowTraffic(1);                                                     // 5
    PlaceWindow();                                                      // 6
    service_ = new WorkstationService(this);                            // 7
    Events_Pump();
    service_->busyChanged = [this](bool busy) { ShowTraffic(busy ? 2 : 1); };
    console_ = Console_Requester(*this);
    Trans_InstallFlows();
    LoadSchedule();                                                     // 8
    Db_Open();                                                          // 9
    OpenCardKey();
    // Who started the terminal, and as what: an administrative action like any setting changed.
    Log_Admin(Text_Utf8ToCp1252(asService_ ? "terminal käivitus teenusena, protsess " : "terminal käivitus, protsess ") +
              std::to_string(QCoreApplication::applicationPid()));
    service_->setService(asService_);
    CheckSettings();
    service_->Start();                                                  // 10
    if (Num_Value(Cfg_Get("UseRAS", "0")) != 0) Task_Start(Ras_Init()); // 11
    if (Num_Value(Cfg_Get("UseX25", "0")) != 0) SetUpSerialPort();      // 12
    Timora1_->Enabled(true);                                            // 13
    Ui_SetMainWindow(this);
    // What the last run left unfinished with the card centre (a file without its verdict, a
    // cancellation without its verdict) is finished now, not at the next send time.
    if (Db_FileInFlight() || !Db_PendingCancellations().empty()) {
        unfinishedDue_ = true;
        PostDueTransfer();
    }
    Part("tKaart")->setFocus();   // a card reader types into the card field from the start
}

void fMain::Form_Unload()
{
    if (!loaded_ || unloaded_) return;
    unloaded_ = true;
    Timora1_->Enabled(false);
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        const std::string key = kFormName;
        const QPoint at = isVisible() ? frameGeometry().topLeft() : pos();
        Cfg_Put(key + ".Left", Num_Text(double(Twips_FromPxX(at.x()))));
        Cfg_Put(key + ".Top", Num_Text(double(Twips_FromPxY(at.y()))));
    }
    // Whatever is under way ends at its next wait (a file exchange where its verdict is recorded or
    // still to come, both safe to take up at the next start) and finishes what follows the wait,
    // the trans.log entry of an accepted file among it. The program ends when nothing is left,
    // or after ten seconds whatever is.
    App_SetStopping(true);
    Wait_Notify();
    QElapsedTimer since;
    since.start();
    auto* settle = new QTimer(this);
    connect(settle, &QTimer::timeout, this, [this, settle, since] {
        if (Task_UnderWay() > 0 && since.elapsed() < kSettleMs) return;
        settle->stop();
        // Every wait is over by now: the hang-up runs its program to the end here, for seconds at most.
        if (Num_Value(Cfg_Get("UseRAS", "0")) != 0) Task_Start(Ras_Release());
        Log_Admin(Text_Utf8ToCp1252("terminal lõpetab, protsess ") + std::to_string(QCoreApplication::applicationPid()));
        emit ended();
    });
    settle->start(10);
}

void fMain::closeEvent(QCloseEvent* event)
{
    // The operator closing the window is asked, as with "Lõpp"; a stop signal is not.
    if (event->spontaneous() && !ConfirmEnd()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void fMain::PopUpMenu(const QPoint& global) { mToo_->popup(global); }

void fMain::cMenu_Click()
{
    const QWidget* button = Part("cMenu");
    // Below the button: frame 0's left plus the button's left, frame 0's top plus its bottom.
    const QPoint local(frames_[0]->x() + button->x(), frames_[0]->y() + button->y() + button->height());
    PopUpMenu(mapToGlobal(local));
}

bool fMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Part("lError")) {
        const bool clicked = event->type() == QEvent::MouseButtonRelease;
        const bool pressed = event->type() == QEvent::KeyPress &&
                             (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                              static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter ||
                              static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space);
        if (clicked || pressed) {
            ShowErrorDetails();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool fMain::ConfirmEnd()
{
    return Msg_Box(Text_Utf8ToCp1252("Lõpetada terminali töö?\r\rKassad ei saa siis kaardiga maksta, kuni "
                                     "terminal uuesti käivitatakse."),
                   4 + 48 + 256) == 6;
}

void fMain::mTooSeaded_Click()
{
    if (settings_) {
        settings_->raise();
        settings_->activateWindow();
        return;
    }
    if (!openSettings) return;
    settings_ = openSettings(this);
    // The send times the dialog saves take effect at once, as the dialog's "järgmine" says.
    if (auto* dialog = qobject_cast<fSeaded*>(settings_)) connect(dialog, &fSeaded::saved, this, &fMain::LoadSchedule);
    if (settings_) settings_->show();
}

void fMain::mTooSendFile_Click() { Timora1_Alert(QStringLiteral("side"), QStringLiteral("manual")); }

void fMain::mTooVead_Click() { cErrLog_Click(); }

void fMain::mTooPaevik_Click()
{
    // One journal, raised again when open; it reads the database on the program's own thread, a
    // page of rows at a time.
    if (!journal_)
        journal_ = new fJournal(this);
    journal_->showDay(journal_->day().isValid() ? journal_->day() : QDate::currentDate());
    journal_->show();
    journal_->raise();
    journal_->activateWindow();
}

void fMain::mTooLopp_Click()
{
    if (ConfirmEnd()) close();
}

} // namespace tollan
