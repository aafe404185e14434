// The operator's own purchase and cancellation: the buttons build the packet a register would send
// and hand it to the console, so the flows run exactly as for a register, answering the console.
#include "shell/fmain.h"
#include "shell/prompt.h"

#include "store/admin_log.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/cardmask.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/msgbox.h"
#include "support/text.h"
#include "transactions/card.h"
#include "transactions/flows.h"
#include "workstation/connections.h"
#include "workstation/packet.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cctype>
#include <limits>

namespace tollan {

namespace {

std::string consoleWorkstation() { return Str_Pad(Cfg_Get("Console\\Toojaam", ""), '0', 8, 1); }

// The operator's amount in currency: digits, at most one "," or "." (whatever the locale: a comma
// is how an amount is written here), at most two decimals, above zero. False for anything it
// cannot read whole.
bool readAmount(std::string_view text, std::int64_t& amount)
{
    const std::string t = Str_Trim(text);
    std::int64_t whole = 0, cents = 0;
    int decimals = -1;   // -1: no separator yet
    for (char c : t) {
        if (c == ',' || c == '.') {
            if (decimals >= 0)
                return false;
            decimals = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            if (decimals >= 0) {
                if (++decimals > 2)
                    return false;
                cents = cents * 10 + (c - '0');
            } else {
                whole = whole * 10 + (c - '0');
                if (whole > 99999999999LL)
                    return false;
            }
        } else {
            return false;
        }
    }
    if (t.empty() || t == "," || t == ".")
        return false;
    if (decimals == 1)
        cents *= 10;
    amount = whole * 10000 + cents * 100;
    return amount > 0;
}

// "12,50": the amount as the operator writes it.
std::string amountText(std::int64_t amount) { return Str_Replace(Fmt_Number(double(amount) / 10000.0, "0.00"), ".", ","); }

} // namespace

void fMain::cTehing_Click()
{
    if (!operatorTrans_.empty()) return;
    auto* amountField = static_cast<QLineEdit*>(Part("tSumma"));
    auto* cardField = static_cast<QLineEdit*>(Part("tKaart"));
    auto* console = Label("lConsole");
    std::int64_t amount = 0;
    if (!readAmount(Text_FromQString(amountField->text()), amount)) {
        console->setText(QStringLiteral("Mittekorrektne summa!"));
        amountField->setFocus();
        return;
    }
    const std::string card = Text_FromQString(cardField->text());
    std::string pan;
    if (!Kaart_GetRealNumber(card, pan)) {
        console->setText(Text_ToQString(pan));  // the reason
        cardField->setFocus();
        return;
    }
    PurchaseRequest q;
    q.PAN = pan;
    q.Amount = q.Amount2 = q.Amount3 = amount;
    q.Reference = cConsole_FindTrans();
    const DateTime now = Clock_NowDateTime();
    q.Date = Date_Number(now);
    q.Time = Time_Number(now);
    q.Kind = 0;
    q.CardData = CardData_FromCardText(card);  // read from the card, with the expiry the text holds

    WorkstationPacket p;
    p.RequestType = wsPurchase;
    p.RequestData = WS_EncodePurchase(q, {});
    p.Word2 = 256;
    p.Workstation = consoleWorkstation();
    p.WorkstationTrans = q.Reference;
    Label("lTransNr")->setText(Text_ToQString(q.Reference));
    // The operator charges a card by hand: who did, in the event log, as the card schemes ask.
    Log_Admin("operaatori ost " + amountText(amount) + ", nr " + q.Reference);
    OperatorRequestStarts(q.Reference, false);
    cConsole_Send(std::move(p));
}

void fMain::cTyhista_Click()
{
    if (!operatorTrans_.empty()) return;
    // The number is asked for in a prompt that does not hold the window and ends like a register's.
    if (Ui_Headless()) {
        CancelNumberGiven(Inp_Box("Transaktsiooni number?", ""));
        return;
    }
    if (prompt_)
        prompt_->close();
    auto* dialog = new PromptDialog(this, QString::fromUtf8("Transaktsiooni number?"), QString(),
                                    Requester::AnswerSeconds());
    prompt_ = dialog;
    connect(dialog, &PromptDialog::answered, this, [this](const QString& text) { CancelNumberGiven(Text_FromQString(text)); });
    dialog->open();
}

void fMain::CancelNumberGiven(const std::string& answer)
{
    const std::string key = Str_Trim(answer);
    if (key.empty() || !operatorTrans_.empty())
        return;
    const std::string workstation = consoleWorkstation();
    // The operator sees what would be reversed before anything is sent.
    TransRecord o;
    bool sent = false;
    std::string refusal;
    if (!Trans_FindOriginal(workstation, key, o, sent))
        refusal = "Tehingut numbriga " + key + " ei leitud.";
    else if (o.Type % 2 != 0)
        refusal = "Number " + key + Text_Utf8ToCp1252(" on tühistus, seda ei saa tühistada.");
    else if (sent)
        refusal = Text_Utf8ToCp1252("Tehing on juba kaardikeskusele saadetud, seda ei saa tühistada.");
    else if (Db_Cancelled(o))
        refusal = Text_Utf8ToCp1252("Tehing on juba tühistatud!");
    if (!refusal.empty()) {
        Label("lConsole")->setText(Text_ToQString(refusal));
        Msg_Open(refusal, 64, [](int) {});
        return;
    }
    const DateTime at = Date_FromNumber(o.Date);
    const DateTime time = Time_FromNumber(o.Time);
    const std::string question =
        Text_Utf8ToCp1252("Tühistada see tehing?") + "\r\r" + "Kaart: " + Card_Mask(o.PAN) +
        "\r" + "Summa: " + amountText(o.Amount) + "\r" + "Aeg: " + Fmt_DateTime(at, "dd.mm.yyyy") + " " +
        Fmt_DateTime(time, "hh:nn") + "\r" + "Kassa: " + std::string(o.Toojaam.size() > 3 ? o.Toojaam.substr(o.Toojaam.size() - 3) : o.Toojaam) +
        "\r" + "STAN: " + o.STAN;
    // Yes/No, a question, "Ei" by default; asked without holding the window, like the number.
    Msg_Open(question, 4 + 32 + 256, [this, key](int button) {
        if (button == 6)
            SendCancellation(key);
    });
}

void fMain::SendCancellation(const std::string& key)
{
    if (!operatorTrans_.empty())
        return;   // another of the operator's requests started meanwhile
    const std::string workstation = consoleWorkstation();
    WorkstationPacket p;
    p.Word2 = 256;
    p.Workstation = workstation;
    p.WorkstationTrans = cConsole_FindTrans();
    p.RequestType = wsCancel;
    p.RequestData = key;
    Log_Admin(Text_Utf8ToCp1252("operaatori tühistus: tehing ") + key + ", nr " + p.WorkstationTrans);
    OperatorRequestStarts(p.WorkstationTrans, true);
    cConsole_Send(std::move(p));
}

void fMain::OperatorRequestStarts(const std::string& trans, bool cancellation)
{
    operatorTrans_ = trans;
    operatorCancels_ = cancellation;
    // No second click while this one waits or runs: it would charge twice.
    Part("cTehing")->setEnabled(false);
    Part("cTyhista")->setEnabled(false);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (service_ && (!service_->canStart() || PacketQueue_Count(service_->queue()) > 0))
        Label("lConsole")->setText(QString::fromUtf8("Ootab järjekorras: teine päring on pooleli..."));
}

void fMain::OperatorRequestEnds(const std::string& trans, bool approved)
{
    if (operatorTrans_.empty() || trans != operatorTrans_) return;   // not the final answer of ours
    Part("cTehing")->setEnabled(true);
    Part("cTyhista")->setEnabled(true);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    operatorTrans_.clear();
    if (!approved)
        return;
    // The row says what was approved: its amount and code (the cashier's own after a telephone call).
    TransSet set;
    std::string said = operatorCancels_ ? Text_Utf8ToCp1252("Tühistatud") : "Kinnitatud";
    if (set.open("iToojaamTrans") && set.seek("=", {DbKey(consoleWorkstation()), DbKey(trans)})) {
        const TransRecord row = Db_ReadTrans(set);
        said += ": " + amountText(row.Amount) + ", kood " + row.AuthCode;
    }
    Label("lConsole")->setText(Text_ToQString(said));
    static_cast<QLineEdit*>(Part("tKaart"))->clear();
    static_cast<QLineEdit*>(Part("tSumma"))->clear();
    Part("tKaart")->setFocus();
    RefreshUnsentStatus();
}

} // namespace tollan
