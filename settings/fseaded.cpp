#include "settings/fseaded.h"

#include "settings/known.h"
#include "timora/timora.h"
#include "timora/timora_clock.h"
#include "store/admin_log.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/msgbox.h"
#include "support/text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSerialPortInfo>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace tollan {

namespace {

using F = FieldKind;

constexpr const char* kPages[] = {"Firma", "Kaardikeskus", "X.25 modem", "Sissehelistamine", "Kviitungid", "Saatmine",
                                  "Kassad"};
constexpr int kSendTimesPage = 5;

// Where the event log says a change came from: the menu item that opens the dialog.
constexpr const char* kVia = "Seadista";
constexpr const char* kLine = "X25\\Settings";
constexpr const char* kLineDefault = "9600,n,8,1";

// In tab order: a field's row is its tab index.
constexpr SettingsField kFields[] = {
    {"tFirmaNimi", F::Text, 0, "Nimi:", "FirmaNimi", "", -1},
    {"tFirmaAadress", F::Text, 0, "Aadress:", "FirmaTänav", "", -1},
    {"tFirmaLinn", F::Text, 0, "Linn:", "FirmaLinn", "", -1},
    {"tFirmaZip", F::Text, 0, "Postiindeks:", "FirmaPostiindeks", "", -1},
    {"tFirmaRegNr", F::Text, 0, "Registrikood:", "FirmaRegNr", "", -1},
    {"tFirmaTunnus", F::Text, 0, "Kaupmehe tunnus:", "FirmaTunnus", "", -1},
    {"tFirmaLokaator", F::Text, 0, "Asukoht:", "FirmaLokaator", "", -1},
    // One setting with the transaction file's "TegevusAla": the store ignores case.
    {"tFirmaMCC", F::Text, 0, "Tegevusala (MCC):", "Tegevusala", "0000", -1},
    {"tTerminal", F::Text, 0, "Terminali tunnus:", "TerminaliTunnus", "", -1},

    {"tAddrTCPauth", F::Text, 1, "TCP, autoriseerimine:", "Tollan_Auth_Address", "", -1},
    {"tAddrTCPfile", F::Text, 1, "TCP, tehingufail:", "Tollan_Trans_Address", "", -1},
    {"tAddrX25auth", F::Text, 1, "X.25, autoriseerimine:", "X25\\Auth_Address", "", -1},
    {"tAddrX25file", F::Text, 1, "X.25, tehingufail:", "X25\\Trans_Address", "", -1},
    {"tTOauth", F::Text, 1, "Vastuse ooteaeg (s):", "TimeOut\\Auth", "60", -1},
    {"tTOconnect", F::Text, 1, "Ühenduse ooteaeg (s):", "TimeOut\\Connect", "60", -1},
    {"tTOws", F::Text, 1, "Kassa ooteaeg (s):", "Timeout\\Workstation", "120", -1},
    // A card centre reached over the internet wants TLS, often with the terminal's own certificate.
    {"chUseTLS", F::Check, 1, "TLS (kaardikeskus avalikus võrgus)", "UseTLS", "0", -1},
    {"tTLSCAFile", F::File, 1, "Usaldatud CA-d (PEM):", "TLS\\CAFile", "", -1},
    {"tTLSCertFile", F::File, 1, "Terminali sertifikaat (PEM):", "TLS\\CertFile", "", -1},
    {"tTLSKeyFile", F::File, 1, "Terminali võti (PEM):", "TLS\\KeyFile", "", -1},
    {"tTLSPeerName", F::Text, 1, "Kaardikeskuse nimi:", "TLS\\PeerName", "", -1},
    {"tTLSPin", F::Text, 1, "Võtme SHA-256 (base64):", "TLS\\Pin", "", -1},

    {"chUseX25", F::Check, 2, "Kaardikeskus X.25 modemi kaudu (muidu TCP)", "UseX25", "0", -1},
    {"tX25Number", F::Text, 2, "Telefon:", "X25\\Number", "", -1},
    {"tX25UserName", F::Text, 2, "Kasutaja:", "X25\\Username", "", -1},
    {"tX25Password", F::Password, 2, "Parool:", "X25\\Password", "", -1},
    {"tModemInit", F::Text, 2, "Modemi lähtestus:", "X25\\ModemInit", "atz", -1},
    {"tModemSettings", F::Text, 2, "Modemi seaded:", "X25\\ModemSettings", "ATM0E0", -1},
    {"cmPort", F::List, 2, "Port:", "X25\\CommPort", "1", -1},
    {"cmSpeed", F::List, 2, "Kiirus:", kLine, kLineDefault, -1},
    {"cmParity", F::List, 2, "Paarsus:", kLine, kLineDefault, -1},
    {"cmDataBits", F::List, 2, "Andmebitte:", kLine, kLineDefault, -1},
    {"cmStopBits", F::List, 2, "Stoppbitte:", kLine, kLineDefault, -1},
    {"cmFlowControl", F::List, 2, "Voojuhtimine:", "X25\\Handshaking", "2", -1},

    {"chUseRAS", F::Check, 3, "Kasuta sissehelistamist", "UseRAS", "0", -1},
    {"tRASconnectoid", F::Text, 3, "Ühendus:", "RAS\\Connectoid", "tollan", -1},
    {"tRASusername", F::Text, 3, "Kasutaja:", "RAS\\UserName", "", -1},
    {"tRASpassword", F::Password, 3, "Parool:", "RAS\\Password", "", -1},
    {"tRASdomain", F::Text, 3, "Domeen:", "RAS\\Domain", "", -1},
    {"tRAStimeout", F::Text, 3, "Jõudeaeg enne katkestust (s):", "RAS\\KeepActive", "10", -1},

    {"tKviitung", F::Template, 4, "Ostu kviitung:", "PrintSuccess", "", -1},
    {"tKviitungTyhista", F::Template, 4, "Tühistuse kviitung:", "PrintReversal", "", -1},

    {"tSideAjad", F::Mask, 5, "1. saatmisaeg:", "SendTransTime1", "", 1},
    {"tSideAjad", F::Mask, 5, "2. saatmisaeg:", "SendTransTime2", "", 2},
    {"tSideAjad", F::Mask, 5, "3. saatmisaeg:", "SendTransTime3", "", 3},
    {"tSideAjad", F::Mask, 5, "4. saatmisaeg:", "SendTransTime4", "", 4},
    {"tSideAjad", F::Mask, 5, "5. saatmisaeg:", "SendTransTime5", "", 5},
    {"tSideAjad", F::Mask, 5, "6. saatmisaeg:", "SendTransTime6", "", 6},

    // Who may connect as a register; the port and the address take effect at the next start.
    {"tPort", F::Text, 6, "Port:", "Port", "1280", -1},
    {"tListenAddress", F::Text, 6, "Kuula aadressil:", "ListenAddress", "", -1},
    {"tAllowFrom", F::Text, 6, "Lubatud kassad:", "AllowFrom", "", -1},
};
static_assert(std::size(kFields) <= 5 * 31, "the change set holds 155 fields");

struct Choice {
    const char* value;
    const char* caption;
};
// The drop-down lists: the value stored (or composed into "X25\Settings") and what the operator reads.
const std::map<std::string, std::vector<Choice>>& Choices()
{
    static const std::map<std::string, std::vector<Choice>> lists = {
        {"cmPort", {{"1", "1 (/dev/ttyS0)"}, {"2", "2 (/dev/ttyS1)"}, {"3", "3 (/dev/ttyS2)"}, {"4", "4 (/dev/ttyS3)"}}},
        {"cmSpeed", {{"1200", "1200"}, {"2400", "2400"}, {"4800", "4800"}, {"9600", "9600"}, {"19200", "19200"},
                     {"38400", "38400"}, {"57600", "57600"}, {"115200", "115200"}}},
        {"cmParity", {{"n", "puudub"}, {"e", "paaris"}, {"o", "paaritu"}, {"m", "märk"}, {"s", "tühik"}}},
        {"cmDataBits", {{"5", "5"}, {"6", "6"}, {"7", "7"}, {"8", "8"}}},
        {"cmStopBits", {{"1", "1"}, {"1.5", "1,5"}, {"2", "2"}}},
        {"cmFlowControl", {{"0", "puudub"}, {"1", "XON/XOFF"}, {"2", "RTS/CTS"}, {"3", "RTS/CTS ja XON/XOFF"}}},
    };
    return lists;
}

// Which part of "X25\Settings" a list holds, or -1.
int LinePart(const char* name)
{
    static const char* const parts[] = {"cmSpeed", "cmParity", "cmDataBits", "cmStopBits"};
    for (int i = 0; i < 4; ++i)
        if (std::string_view(name) == parts[i]) return i;
    return -1;
}

// A template is one line of items separated by ";". A line break the operator types is the
// template's own line break, "%0D%0A", as an item of its own: written into a neighbouring item it
// would be taken as part of that item (after "{Name}" as the field's picture) and lost. Splitting
// and joining at the same separator gives back exactly what was stored.
const QString kBreakItem = QStringLiteral(";%0D%0A;");
QString TemplateLines(const QString& tpl) { return tpl.split(kBreakItem).join(u'\n'); }
QString TemplateText(const QString& lines) { return lines.split(u'\n').join(kBreakItem); }

// A send time as the scheduler means it (the known settings' rule): the scheduler reads anything
// else as some other time without a word, "22:30" as the year 22, a missing minute as minute 0.
bool IsSendMask(const QString& mask)
{
    static const KnownSetting* row = Settings_Find("SendTransTime1");
    return !Settings_Problem(*row, "SendTransTime1", mask.toStdString());
}

constexpr const char* kMaskForm =
    "Kuju: aasta kuu päev tund minut [nädalapäev 1–7], igaüks arv või * (iga).\n"
    "Näiteks * * * 22 30 on iga päev kell 22.30, * * * 8 0 1 esmaspäeviti kell 8.00.";

// The hourglass for the life of the guard.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// A field's row: its edit stretched, with what goes beside it on the right.
QWidget* FieldBeside(QWidget* parent, QWidget* edit, QWidget* beside)
{
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(edit, 1);
    line->addWidget(beside);
    return row;
}

} // namespace

std::span<const SettingsField> Settings_Fields() { return kFields; }
std::span<const char* const> Settings_Pages() { return kPages; }

std::string Settings_ComposeLine(const std::string& speed, const std::string& parity, const std::string& dataBits,
                                 const std::string& stopBits)
{
    return speed + "," + parity + "," + dataBits + "," + stopBits;
}

bool Settings_SplitLine(const std::string& line, std::string& speed, std::string& parity, std::string& dataBits,
                        std::string& stopBits)
{
    const std::vector<std::string> p = Str_Split(line, ",");
    if (p.size() != 4) return false;
    speed = Str_Trim(p[0]);
    parity = Str_Trim(p[1]);
    dataBits = Str_Trim(p[2]);
    stopBits = Str_Trim(p[3]);
    return true;
}

fSeaded::fSeaded(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fSeaded"));
    setWindowTitle(QString::fromUtf8("Seaded"));
    setModal(false);
    TabStrip1_ = new QTabBar(this);
    TabStrip1_->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1_->setExpanding(false);
    for (const char* caption : kPages) TabStrip1_->addTab(QString::fromUtf8(caption));

    std::vector<QFormLayout*> forms;
    for (std::size_t i = 0; i < std::size(kPages); ++i) {
        auto* f = new QFrame(this);
        f->setObjectName(QStringLiteral("Frame"));
        f->setProperty("index", int(i));
        forms.push_back(new QFormLayout(f));
        forms.back()->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        frames_.push_back(f);
    }
    Timora1_ = new Timora(this);
    Timora1_->setObjectName(QStringLiteral("Timora1"));
    Timora1_->Enabled(false);
    Timora1_->Interval(0);
    Timora1_->hide();
    nextTimes_.assign(std::size(kFields), nullptr);
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const SettingsField& d = kFields[i];
        QFrame* frame = frames_[std::size_t(d.page)];
        const int index = int(i);
        QWidget* w = nullptr;
        QWidget* row = nullptr;  // what stands in the form: the field, or the field and its label
        switch (d.kind) {
        case F::Text:
        case F::Password: {
            auto* e = new QLineEdit(frame);
            if (d.kind == F::Password) e->setEchoMode(QLineEdit::Password);
            connect(e, &QLineEdit::textChanged, this, [this, index] { SetChanged(index, true); });
            w = e;
            break;
        }
        case F::Mask: {
            auto* e = new QLineEdit(frame);
            auto* next = new QLabel(frame);
            next->setObjectName(QStringLiteral("lSideAjad"));
            next->setProperty("index", d.index);
            const QString widest = QString::fromUtf8("järgmine: 00.00.0000 00:00");
            next->setMinimumWidth(next->fontMetrics().horizontalAdvance(widest) + 8);
            nextTimes_[i] = next;
            connect(e, &QLineEdit::textChanged, this, [this, index] {
                SetChanged(index, true);
                ShowNextTimes();
            });
            row = FieldBeside(frame, e, next);
            w = e;
            break;
        }
        case F::Template: {
            auto* e = new QPlainTextEdit(frame);
            e->setTabChangesFocus(true);
            // Room for a few lines: the text wraps, and the whole template is there to scroll through.
            e->setFixedHeight(e->fontMetrics().lineSpacing() * 5 + 2 * e->frameWidth() + 8);
            connect(e, &QPlainTextEdit::textChanged, this, [this, index] { SetChanged(index, true); });
            row = new QWidget(frame);
            row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
            auto* column = new QVBoxLayout(row);
            column->setContentsMargins(0, 0, 0, 0);
            column->setSpacing(2);
            column->addWidget(e);
            auto* note = new QLabel(QString::fromUtf8("Tühi: sisseehitatud kviitung"), row);
            note->setObjectName(QStringLiteral("lKviitungTyhi"));
            column->addWidget(note);
            w = e;
            break;
        }
        case F::List: {
            auto* c = new QComboBox(frame);
            for (const Choice& ch : Choices().at(d.name)) c->addItem(QString::fromUtf8(ch.caption), QString::fromUtf8(ch.value));
            connect(c, &QComboBox::currentIndexChanged, this, [this, index] { SetChanged(index, true); });
            if (std::string_view(d.name) == "cmPort") {
                // The machine's own serial devices (a USB modem is no ttyS), and any path typed.
                for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
                    if (c->findData(port.systemLocation()) < 0 && !port.systemLocation().startsWith(QStringLiteral("/dev/ttyS")))
                        c->addItem(port.systemLocation() + (port.description().isEmpty() ? QString() : " (" + port.description() + ")"),
                                   port.systemLocation());
                c->setEditable(true);
                c->setInsertPolicy(QComboBox::NoInsert);
                connect(c, &QComboBox::editTextChanged, this, [this, index] { SetChanged(index, true); });
            }
            w = c;
            break;
        }
        case F::File: {
            auto* e = new QLineEdit(frame);
            connect(e, &QLineEdit::textChanged, this, [this, index] { SetChanged(index, true); });
            auto* choose = new QToolButton(frame);
            choose->setObjectName(QString::fromLatin1(d.name) + "Vali");
            choose->setText(QString::fromUtf8("…"));
            choose->setToolTip(QString::fromUtf8("Vali fail"));
            connect(choose, &QToolButton::clicked, this, [this, e, caption = QString::fromUtf8(d.caption)] {
                const QString path = QFileDialog::getOpenFileName(this, caption, e->text(),
                                                                  QString::fromUtf8("PEM (*.pem *.crt *.key);;Kõik failid (*)"));
                if (!path.isEmpty()) e->setText(path);
            });
            row = FieldBeside(frame, e, choose);
            w = e;
            break;
        }
        case F::Check: {
            auto* c = new QCheckBox(QString::fromUtf8(d.caption), frame);
            connect(c, &QCheckBox::toggled, this, [this, index] { SetChanged(index, true); });
            w = c;
            break;
        }
        }
        w->setObjectName(QString::fromLatin1(d.name));
        if (d.index >= 0) w->setProperty("index", d.index);
        if (d.kind == F::Check)
            forms[std::size_t(d.page)]->addRow(w);
        else
            forms[std::size_t(d.page)]->addRow(QString::fromUtf8(d.caption), row ? row : w);
        fields_.push_back(w);
    }
    auto* maskForm = new QLabel(QString::fromUtf8(kMaskForm), frames_[kSendTimesPage]);
    maskForm->setWordWrap(true);
    forms[kSendTimesPage]->addRow(maskForm);
    auto* registers = new QLabel(QString::fromUtf8("Tühi aadress: kõik liidesed. Lubatud kassad: aadressid ja võrgud (192.168.1.0/24),"
                                                   " eraldaja \";\"; tühi: kõik. Port ja aadress kehtivad pärast taaskäivitust."),
                                 frames_.back());
    registers->setWordWrap(true);
    forms.back()->addRow(registers);

    cOK_ = new QPushButton(QStringLiteral("OK"), this);
    cOK_->setObjectName(QStringLiteral("cOK"));
    cApply_ = new QPushButton(QStringLiteral("&Rakenda"), this);
    cApply_->setObjectName(QStringLiteral("cApply"));
    cCancel_ = new QPushButton(QStringLiteral("&Loobu"), this);
    cCancel_->setObjectName(QStringLiteral("cCancel"));
    cOK_->setDefault(true);
    connect(cOK_, &QPushButton::clicked, this, &fSeaded::cOK_Click);
    connect(cApply_, &QPushButton::clicked, this, &fSeaded::cApply_Click);
    connect(cCancel_, &QPushButton::clicked, this, &fSeaded::cCancel_Click);
    connect(TabStrip1_, &QTabBar::currentChanged, this, [this](int i) { TabStrip1_Click(i + 1); });
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages, from whichever field has the focus.
    auto* forward = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    auto* back = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), this);
    connect(forward, &QShortcut::activated, this, [this] { StepTab(1); });
    connect(back, &QShortcut::activated, this, [this] { StepTab(-1); });
    // The next times move on with the clock while the dialog stays open.
    auto* minute = new QTimer(this);
    minute->setTimerType(Qt::VeryCoarseTimer);
    connect(minute, &QTimer::timeout, this, &fSeaded::ShowNextTimes);
    minute->start(60000);

    Form_Load();
    LoadSettings();
}

void fSeaded::Form_Load()
{
    // Every page at the same place (240, 480 twips), borderless, enabled, hidden; the first shown.
    const int left = 240 * logicalDpiX() / 1440, top = 480 * logicalDpiY() / 1440;
    int width = 0, height = 0;
    for (QFrame* f : frames_) {
        width = std::max(width, f->sizeHint().width());
        height = std::max(height, f->sizeHint().height());
    }
    width = std::max(width, TabStrip1_->sizeHint().width() - left) + 40;
    for (QFrame* f : frames_) {
        f->setFrameShape(QFrame::NoFrame);
        f->setEnabled(true);
        f->setGeometry(left, top, width, height);
        f->hide();
    }
    frames_[0]->show();
    currentTab_ = 1;
    TabStrip1_->setGeometry(left / 2, top / 4, width + left, TabStrip1_->sizeHint().height());
    const int buttonsTop = top + height + 12;
    const QSize button(96, cOK_->sizeHint().height());
    const int right = left + width;
    cCancel_->setGeometry(right - button.width(), buttonsTop, button.width(), button.height());
    cApply_->setGeometry(right - 2 * button.width() - 8, buttonsTop, button.width(), button.height());
    cOK_->setGeometry(right - 3 * button.width() - 16, buttonsTop, button.width(), button.height());
    setFixedSize(right + left, buttonsTop + button.height() + 12);
}

QFrame* fSeaded::page(int frame) const
{
    return frame >= 0 && frame < int(frames_.size()) ? frames_[std::size_t(frame)] : nullptr;
}

QWidget* fSeaded::Field(int index) const { return fields_[std::size_t(index)]; }

int fSeaded::FieldIndex(const char* name) const
{
    for (std::size_t i = 0; i < std::size(kFields); ++i)
        if (std::string_view(kFields[i].name) == name) return int(i);
    return -1;
}

std::string fSeaded::Value(int index) const
{
    QWidget* w = Field(index);
    switch (kFields[index].kind) {
    case F::Text:
    case F::Password:
    case F::File:
    case F::Mask: return Text_FromQString(static_cast<QLineEdit*>(w)->text());
    case F::Template: return Text_FromQString(TemplateText(static_cast<QPlainTextEdit*>(w)->toPlainText()));
    case F::List: {
        auto* c = static_cast<QComboBox*>(w);
        // A typed port is a path of its own, unless it is what an item of the list says.
        if (c->isEditable() && c->currentText() != c->itemText(c->currentIndex())) {
            const int at = c->findText(c->currentText());
            return Text_FromQString(at >= 0 ? c->itemData(at).toString() : c->currentText().trimmed());
        }
        return Text_FromQString(c->currentData().toString());
    }
    case F::Check: return static_cast<QCheckBox*>(w)->isChecked() ? "-1" : "0";
    }
    return {};
}

void fSeaded::SetValue(int index, const std::string& value)
{
    QWidget* w = Field(index);
    const QString v = Text_ToQString(value);
    switch (kFields[index].kind) {
    case F::Text:
    case F::Password:
    case F::File:
    case F::Mask: static_cast<QLineEdit*>(w)->setText(v); break;
    case F::Template: static_cast<QPlainTextEdit*>(w)->setPlainText(TemplateLines(v)); break;
    case F::List: {
        auto* c = static_cast<QComboBox*>(w);
        int at = c->findData(v);
        // A value the list does not offer (a device path, an odd speed) is kept, not lost.
        if (at < 0) {
            c->addItem(v, v);
            at = c->count() - 1;
        }
        c->setCurrentIndex(at);
        break;
    }
    case F::Check: static_cast<QCheckBox*>(w)->setChecked(Num_Value(value) != 0); break;
    }
}

void fSeaded::SetChanged(int index, bool changed)
{
    if (loading_ || index < 0 || index >= 5 * 31) return;
    const std::uint32_t bit = std::uint32_t(1) << (index % 31);
    if (changed) {
        changes_[std::size_t(index / 31)] |= bit;
        cApply_->setEnabled(true);
        // Typing again takes the mark of a refused value away; the next Apply checks anew.
        if (QWidget* w = Field(index); w->property("refused").isValid()) {
            w->setProperty("refused", QVariant());
            w->setToolTip(QString());
            w->setStyleSheet(QString());
        }
    } else {
        changes_[std::size_t(index / 31)] &= ~bit;
    }
}

bool fSeaded::IsChanged(int index) const
{
    if (index < 0 || index >= 5 * 31) return false;
    return (changes_[std::size_t(index / 31)] >> (index % 31)) & 1;
}

void fSeaded::LoadSettings()
{
    loading_ = true;
    std::string parts[4];
    // Looked up only: a setting the operator leaves alone stays absent, and its readers keep their
    // own default ("TimeOut\Connect" absent is 60 seconds for the card centre but 30 for the modem).
    if (!Settings_SplitLine(Cfg_Lookup(kLine, kLineDefault), parts[0], parts[1], parts[2], parts[3]))
        Settings_SplitLine(kLineDefault, parts[0], parts[1], parts[2], parts[3]);
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const SettingsField& d = kFields[i];
        if (!d.key) continue;
        const int part = LinePart(d.name);
        SetValue(int(i), part >= 0 ? parts[part] : Cfg_Lookup(Text_Utf8ToCp1252(d.key), d.def));
    }
    changes_.fill(0);
    cApply_->setEnabled(false);
    loading_ = false;
    ShowNextTimes();
}

int fSeaded::WrongField(std::string* why) const
{
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const int index = int(i);
        const SettingsField& d = kFields[i];
        if (!d.key || !IsChanged(index)) continue;
        // The line's four lists are one setting, checked as the line they compose.
        const bool line = LinePart(d.name) >= 0;
        const std::string key = line ? kLine : d.key;
        const std::string value = Text_Cp1252ToUtf8(
            line ? Settings_ComposeLine(Value(FieldIndex("cmSpeed")), Value(FieldIndex("cmParity")),
                                        Value(FieldIndex("cmDataBits")), Value(FieldIndex("cmStopBits")))
                 : Value(index));
        const KnownSetting* row = Settings_Find(key);
        if (const SettingProblem p = row ? Settings_Problem(*row, key, value) : SettingProblem{}) {
            if (why) *why = p.estonian;
            return index;
        }
    }
    return -1;
}

void fSeaded::ShowNextTimes()
{
    // The terminal reads the send times up to the first empty one: those after it never fire.
    bool ended = false;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        QLabel* label = nextTimes_[i];
        if (!label) continue;
        const QString mask = static_cast<QLineEdit*>(Field(int(i)))->text();
        QString text;
        if (mask.isEmpty()) {
            ended = true;
        } else if (!IsSendMask(mask)) {
            text = QStringLiteral("vigane");
        } else if (ended) {
            text = QString::fromUtf8("ei käivitu");
        } else {
            Timora1_->Clear();
            Timora1_->Insert(mask, QStringLiteral("side"), QString());
            TimoraError error;
            const QDateTime next = Timora1_->NextTime(QStringLiteral("side"), &error);
            // The control answers 1 January 9999 for a mask that never matches; a moment that is not
            // after now (a year gone by) is no next time either.
            text = error || !next.isValid() || next.date().year() >= 9999 || next <= Timora_Clock().now()
                       ? QString::fromUtf8("ei käivitu")
                       : QString::fromUtf8("järgmine: ") + next.toString(QStringLiteral("dd.MM.yyyy hh:mm"));
        }
        label->setText(text);
    }
}

bool fSeaded::SaveSettings()
{
    bool ok = true;
    bool lineChanged = false;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const SettingsField& d = kFields[i];
        if (!d.key || !IsChanged(int(i))) continue;
        if (LinePart(d.name) >= 0) {
            lineChanged = true;
            continue;
        }
        // Each setting the operator changes goes to the event log with who changed it.
        ok = Admin_PutSetting(kVia, Text_Utf8ToCp1252(d.key), Value(int(i))) && ok;
    }
    if (lineChanged) {
        ok = Admin_PutSetting(kVia, kLine,
                              Settings_ComposeLine(Value(FieldIndex("cmSpeed")), Value(FieldIndex("cmParity")),
                                                   Value(FieldIndex("cmDataBits")), Value(FieldIndex("cmStopBits")))) &&
             ok;
    }
    emit saved();
    return ok;
}

void fSeaded::TabStrip1_Click(int tab)
{
    if (tab == currentTab_) return;
    QFrame* next = page(tab - 1);
    if (!next || !next->isEnabled() || (cApply_->isEnabled() && !Apply())) {
        // The strip stays on the page that is shown.
        const QSignalBlocker quiet(TabStrip1_);
        TabStrip1_->setCurrentIndex(currentTab_ - 1);
        return;
    }
    ShowPage(tab);
}

void fSeaded::ShowPage(int tab)
{
    QFrame* next = page(tab - 1);
    QFrame* shown = page(currentTab_ - 1);
    const bool hadFocus = shown->isAncestorOf(focusWidget());
    shown->hide();
    next->show();
    currentTab_ = tab;
    if (hadFocus) {
        // The focus goes along to the page's first field, or it would stay behind on a hidden one.
        const auto first = std::find_if(std::begin(kFields), std::end(kFields),
                                        [tab](const SettingsField& f) { return f.page == tab - 1; });
        if (first != std::end(kFields)) Field(int(first - std::begin(kFields)))->setFocus(Qt::TabFocusReason);
    }
    if (TabStrip1_->currentIndex() != tab - 1) {
        const QSignalBlocker quiet(TabStrip1_);
        TabStrip1_->setCurrentIndex(tab - 1);
    }
}

void fSeaded::StepTab(int step)
{
    // Round the strip, past a disabled page.
    const int pages = TabStrip1_->count();
    for (int n = 1; n < pages; ++n) {
        const int tab = ((currentTab_ - 1 + step * n) % pages + pages) % pages + 1;
        if (page(tab - 1)->isEnabled()) {
            TabStrip1_->setCurrentIndex(tab - 1);
            return;
        }
    }
}

bool fSeaded::Apply()
{
    std::string why;
    if (const int wrong = WrongField(&why); wrong >= 0) {
        // The field is marked, its page shown, and the reason said over the dialog; nothing is saved.
        QWidget* field = Field(wrong);
        field->setProperty("refused", QString::fromStdString(why));
        field->setToolTip(QString::fromStdString(why));
        field->setStyleSheet(QStringLiteral("border: 2px solid #c00000;"));
        if (kFields[wrong].page + 1 != currentTab_) ShowPage(kFields[wrong].page + 1);
        std::string caption = kFields[wrong].caption;
        if (!caption.empty() && caption.back() == ':') caption.pop_back();
        const std::string typed = Text_Cp1252ToUtf8(Value(wrong));
        const std::string text = kFields[wrong].kind == F::Mask ? caption + " \"" + typed + "\" ei ole saatmisaeg.\n" + kMaskForm
                                                                : caption + " \"" + typed + "\": " + why + ".";
        Msg_BoxOver(this, Text_Utf8ToCp1252(text), 48);
        field->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
        return false;
    }
    WaitCursor hourglass;
    SaveSettings();
    LoadSettings();
    return true;
}

void fSeaded::cApply_Click() { Apply(); }

void fSeaded::cOK_Click()
{
    if (cApply_->isEnabled() && !Apply()) return;
    cCancel_Click();
}

void fSeaded::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!placed_) {
        PlaceBesideParent();
        // Opened to be typed in: the first field of the page shown has the focus.
        const auto first = std::find_if(std::begin(kFields), std::end(kFields),
                                        [this](const SettingsField& f) { return f.page == currentTab_ - 1; });
        Field(int(first - std::begin(kFields)))->setFocus(Qt::OtherFocusReason);
    }
    placed_ = true;
}

void fSeaded::reject()
{
    // Escape, Cancel and the window's close throw the changes not yet applied away: asked first.
    if (cApply_->isEnabled() &&
        Msg_BoxOver(this, Text_Utf8ToCp1252("Muudatused on salvestamata.\r\rLoobuda neist?"), 4 + 32 + 256) != 6)
        return;
    QDialog::reject();
}

void fSeaded::PlaceBesideParent()
{
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible()) return;
    const QScreen* screen = owner->screen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    const QRect beside = owner->frameGeometry();
    // Our own frame is not known before the window manager has framed us: take the owner's.
    const QRect inner = owner->geometry();
    const QSize size = this->size() + QSize(beside.width() - inner.width(), beside.height() - inner.height());
    const int top = std::clamp(beside.top(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height()));
    int left;
    if (beside.right() + 1 + size.width() <= room.right() + 1)
        left = beside.right() + 1;
    else if (beside.left() - size.width() >= room.left())
        left = beside.left() - size.width();
    else  // no room on either side: over the owner, but whole on the screen
        left = std::clamp(beside.right() + 1 - size.width(), room.left(),
                          std::max(room.left(), room.right() + 1 - size.width()));
    move(left, top);
}

void fSeaded::cCancel_Click() { close(); }

} // namespace tollan
