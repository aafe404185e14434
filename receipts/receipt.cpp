#include "receipts/receipt.h"

#include "dialogues/merchant.h"
#include "protocol/messages.h"
#include "receipts/template.h"
#include "support/cardmask.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"
#include "workstation/dispatch.h"

#include <algorithm>

namespace tollan {

namespace {

inline constexpr std::string_view kManual = " (k\xE4sitsi)";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A value in the parameter list: a ";" would end it early and could make the rest read as another
// value (a merchant's street "Pärnu mnt 5; II korrus", or a card number "1;Amount=0").
void PutValue(std::string& values, std::string_view name, std::string_view value)
{
    std::string v(value);
    std::replace(v.begin(), v.end(), ';', ',');
    Param_Set(values, name, v);
}

// A date of the transaction record in the short date form; empty when it is none.
std::string ShortDate(const DateTime& d)
{
    return d.year == 0 ? std::string() : Fmt_DateTime(d, "short date");
}

// The card type's display name by the first digits of the card number. Only digits make a key:
// the card number comes from the register, and anything else would name a registry key of its own.
// Looked up only: every new card range would otherwise add to the file, with a save in the receipt.
std::string CardTypeName(std::string_view pan)
{
    const std::string_view prefix = pan.substr(0, 6);
    if (prefix.empty() || !std::all_of(prefix.begin(), prefix.end(), IsDigit))
        return {};
    return Cfg_Lookup("CardType\\" + std::string(prefix), "");
}

Task<bool> PrintCopy(Requester& who, const WorkstationPacket& request, const std::string& text)
{
    if (text.size() > kReceiptMaxText) {
        Err_Report(0, "Kviitungi tekst on " + std::to_string(text.size()) + " m\xE4rki, pakett mahutab "
                          + std::to_string(kReceiptMaxText),
                   "Kviitungi tr\xFCkk", 48, "Toojaam=" + request.Workstation + ";");
        co_return false;
    }
    WorkstationPacket p = request;
    p.AnswerType = wsPrint;
    p.AnswerData = text;
    const std::optional<std::string> printed = co_await who.ask(WS_EncodePacket(p));
    co_return printed && Num_Value(*printed) != 0;
}

} // namespace

std::string Receipt_Values(const TransRecord& t, std::string_view origStan)
{
    std::string v;
    PutValue(v, "Name", KK_Get(kKK_FirmaNimi));
    PutValue(v, "Address", Cfg_Get("FirmaT\xE4nav", "") + ", " + Cfg_Get("FirmaLinn", ""));
    PutValue(v, "Zip", Cfg_Get("FirmaPostiindeks", ""));
    PutValue(v, "RegNr", KK_Get(kKK_FirmaRegNr));
    // Two decimals, as money is written (the locale's decimal separator).
    PutValue(v, "Amount", Fmt_Number(static_cast<double>(t.Amount) / 10000.0, "0.00"));
    PutValue(v, "Date", ShortDate(Date_FromNumber(t.Date)));
    PutValue(v, "Time", Fmt_DateTime(Time_FromNumber(t.Time), "short time"));
    // Both copies show the number masked; only a template that names {PANfull} prints it whole.
    PutValue(v, "PANhidden", Card_Mask(t.PAN));
    PutValue(v, "PANfull", t.PAN);
    PutValue(v, "PAN", Card_Mask(t.PAN));
    PutValue(v, "CardType", CardTypeName(t.PAN));
    PutValue(v, "ExpDate", ShortDate(Date_FromNumber(t.ExpDate * 100 + 1)));
    PutValue(v, "AuthCode", t.AuthCode);
    PutValue(v, "POS", KK_PosNumber(t.Toojaam));
    PutValue(v, "Number", t.STAN);
    PutValue(v, "Terminal", KK_CardAcceptorId(t.Toojaam));
    PutValue(v, "OrigSTAN", origStan);
    PutValue(v, "T", std::to_string(t.POSCode));
    if (t.POSCode % 2 == 0)
        PutValue(v, "PANManual", kManual);
    if (t.POSCode / 2 != 0)
        PutValue(v, "AuthManual", kManual);
    return v;
}

std::string Receipt_Template(const TransRecord& t)
{
    const std::string tpl = KK_PosSetting(t.Toojaam, t.Type % 2 != 0 ? "PrintReversal" : "PrintSuccess", "");
    return tpl.empty() ? std::string(kBuiltinReceipt) : tpl;
}

Task<bool> Receipt_Print(Requester& who, const WorkstationPacket& request, const TransRecord& t,
                         std::string_view cancelledStan)
{
    const std::string values = Receipt_Values(t, cancelledStan);
    const std::string text = Tpl_Render(Receipt_Template(t), values);
    const bool printed1 = co_await PrintCopy(who, request, text);
    const bool printed2 = co_await PrintCopy(who, request, text);
    co_return printed1 && printed2;
}

} // namespace tollan
