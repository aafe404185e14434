// The operator's own purchase and cancellation: the buttons build the packet a register would send
// and hand it to the console, so the flows run exactly as for a register, answering the console.
#include "shell/fmain.h"

#include "protocol/messages.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/msgbox.h"
#include "support/text.h"
#include "transactions/card.h"
#include "workstation/packet.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

namespace tollan {

namespace {

std::string consoleWorkstation() { return Str_Pad(Cfg_Get("Console\\Toojaam", ""), '0', 8, 1); }

} // namespace

void fMain::cTehing_Click()
{
    auto* amountField = static_cast<QLineEdit*>(Part("tSumma"));
    auto* cardField = static_cast<QLineEdit*>(Part("tKaart"));
    auto* console = Label("lConsole");
    const double amount = Num_Value(Text_FromQString(amountField->text()));
    // Judged as the card centre will see it: in whole hundredths of the currency.
    const bool sendable = std::isfinite(amount) && amount > 0 && amount <= 9e14 &&
                          KK_Cents(std::llround(amount * 10000.0)) > 0;
    if (!sendable) {
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
    q.Amount = q.Amount2 = q.Amount3 = std::llround(amount * 10000.0);
    q.Reference = cConsole_FindTrans();
    const DateTime now = Clock_NowDateTime();
    q.Date = Date_Number(now);
    q.Time = Time_Number(now);
    q.Kind = 0;
    q.CardData = CardData_FromCardText(card);  // read from the card, with the expiry the text holds

    WorkstationPacket p;
    p.AnswerType = wsPurchase;
    p.AnswerData = WS_EncodePurchase(q, {});
    p.Word2 = 256;
    p.Workstation = consoleWorkstation();
    p.WorkstationTrans = q.Reference;
    Label("lTransNr")->setText(Text_ToQString(q.Reference));
    cConsole_Send(Url_Encode(WS_EncodePacket(p)));
}

void fMain::cTyhista_Click()
{
    const std::string key = Inp_Box("Transaktsiooni number?", "");
    if (key.empty())
        return;
    WorkstationPacket p;
    p.Word2 = 256;
    p.Workstation = consoleWorkstation();
    p.WorkstationTrans = cConsole_FindTrans();
    p.AnswerType = wsCancel;
    p.AnswerData = key;
    cConsole_Send(Url_Encode(WS_EncodePacket(p)));
}

} // namespace tollan
