// The console of the main window (requester -9), the error indicator and the error archive.
#include "shell/fmain.h"
#include "shell/print.h"

#include "store/db.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/msgbox.h"
#include "support/text.h"
#include "workstation/connections.h"
#include "workstation/dispatch.h"
#include "workstation/packet.h"
#include "workstation/service.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include <cstdint>

namespace tollan {

namespace {

// Hexadecimal digits from the start; anything else ends the number ("FFx" is FF, "" is 0).
std::uint32_t HexValue(std::string_view t)
{
    std::uint32_t v = 0;
    for (char c : Str_Trim(t)) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        v = v * 16 + std::uint32_t(d);
    }
    return v;
}

} // namespace

void fMain::cErrShow_Click()
{
    const int slot = Part("cErrShow")->property("Tag").toInt();
    const ErrorRecord& r = Err_Record(slot);
    const std::string text = std::to_string(r.number) + " - " + r.message + " (" + r.description + ")!";
    Log_Event(text);
    QLabel* lError = Label("lError");
    lError->setText(Text_ToQString(r.message));
    lError->setToolTip(Text_ToQString(text));
}

void fMain::cErrLog_Click()
{
    // The operator's desktop shows the archive; with no desktop there is nobody to show it to.
    if (Ui_Headless()) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(Err_LogPath()));
}

void fMain::cConsole_Click()
{
    std::string text = Tpl_Decode(Text_FromQString(static_cast<QPushButton*>(Part("cConsole"))->text()));
    WorkstationPacket p;
    if (WS_DecodePacket(text, p) == 0) return;
    // A type-8 answer keeps the header of the packet it answers.
    const auto answer = [this, &p](const std::string& data) {
        WorkstationPacket a = p;
        a.AnswerType = wsDialogAnswer;
        a.AnswerData = data;
        cConsole_Send(Url_Encode(WS_EncodePacket(a)));
    };
    switch (p.RequestType) {
    case wsBusy:
        break;
    case wsInfo:
        Label("lConsole")->setText(Text_ToQString(p.RequestData));
        break;
    case wsDialog: {
        std::string prompt, second;
        WS_ParseDialog(p.RequestData, prompt, second);
        answer(Inp_Box(prompt, second));
        break;
    }
    case 9: {
        std::string prompt;
        std::int16_t number = 0;
        WS_ParseDialogNumber(p.RequestData, prompt, number);
        answer(std::to_string(Msg_Box(prompt, number)));
        break;
    }
    case wsPrint:
        answer(cConsole_Print(p.RequestData) ? "-1" : "0");
        break;
    case wsApproval:
        Label("lConsole")->setText(QString());
        break;
    case wsError: {
        std::int16_t code = 0;
        std::string description;
        WS_ParseError(p.RequestData, code, description);
        Err_Report(code, description, "Kaardikeskus tagastas vea", 16, "");
        break;
    }
    case 21:
        Err_Report(0, "", "Kaardikeskus keeldus tehingut sooritamast!", 16, "");
        break;
    default:
        Err_Report(0, "", "Arusaamatu kaardikeskuse vastus: " + std::to_string(p.RequestType), 16,
                   "Data=" + Url_Encode(p.RequestData));
        break;
    }
}

void fMain::cConsole_Send(const std::string& text)
{
    std::string bytes = Tpl_Decode(text);
    WorkstationPacket p;
    if (WS_DecodePacket(bytes, p) == 0) {
        Log_Event(Part("cConsole"), "vigane pakett: " + text);
        return;
    }
    p.Requester = kRequesterConsole;
    if (p.RequestType == wsDialogAnswer) {
        consoleTag_ = p.RequestData;
        return;
    }
    if (!service_) return;
    PacketQueue_Add(service_->queue(), p);
    service_->WSTJ_Process();
}

bool fMain::cConsole_Print(const std::string& text)
{
    if (pendingReceipt_.empty()) {
        pendingReceipt_ = text;
        return true;
    }
    const std::string page = Console_PairReceipts(pendingReceipt_, text);
    pendingReceipt_.clear();
    return printDocument ? printDocument(page) : false;
}

std::string fMain::cConsole_FindTrans()
{
    std::string number;
    Cfg_Change("Console\\Trans", "0", [&number](const std::string& last) {
        number = Str_Pad(Num_Hex(std::int32_t(HexValue(last) + 1)), '0', 8, 1);
        return number;
    });
    return number;
}

} // namespace tollan
