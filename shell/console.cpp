// The console of the main window (requester -9), the error indicator and the error archive.
#include "shell/fmain.h"
#include "shell/console.h"
#include "shell/print.h"
#include "shell/prompt.h"

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
#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QVBoxLayout>
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
    errorShown_ = slot;
    QLabel* lError = Label("lError");
    // When it happened, so that an old error is not taken for the last transaction's.
    lError->setText(r.time.toString(QStringLiteral("HH:mm ")) + Text_ToQString(r.message));
    lError->setToolTip(Text_ToQString(text));
}

void fMain::ShowErrorDetails()
{
    if (errorShown_ < 0) return;
    const ErrorRecord& r = Err_Record(errorShown_);
    std::string text = r.message.empty() ? std::string() : r.message + "\r\r";
    text += Text_Utf8ToCp1252("Aeg: ") + r.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString() + "\r";
    text += "Number: " + std::to_string(r.number) + "\r";
    if (!r.description.empty()) text += "Kirjeldus: " + r.description + "\r";
    if (!r.details.empty()) text += "Lisainfo: " + r.details + "\r";
    Msg_Box(text, 64);
}

void fMain::cErrLog_Click()
{
    // The operator's desktop shows the archive; with no desktop there is nobody to show it to.
    if (Ui_Headless()) return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Err_LogPath()))) ShowErrorLog();
}

void fMain::ShowErrorLog()
{
    // No program on this desktop opens a text file: the archive is shown here.
    auto* viewer = new QDialog(this);
    viewer->setObjectName(QStringLiteral("fVigadeArhiiv"));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setWindowTitle(QString::fromUtf8("Vigade arhiiv"));
    auto* text = new QPlainTextEdit(viewer);
    text->setObjectName(QStringLiteral("tArhiiv"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFile log(Err_LogPath());
    text->setPlainText(log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll())
                                                     : QString::fromUtf8("Vigade arhiiv on tühi."));
    text->moveCursor(QTextCursor::End);   // the newest at the bottom, in view
    auto* close = new QPushButton(QString::fromUtf8("&Sulge"), viewer);
    connect(close, &QPushButton::clicked, viewer, &QDialog::close);
    auto* layout = new QVBoxLayout(viewer);
    layout->addWidget(text);
    layout->addWidget(close, 0, Qt::AlignRight);
    viewer->resize(760, 420);
    viewer->show();
}

namespace {

class ConsoleRequester final : public Requester {
public:
    explicit ConsoleRequester(fMain& window) : Requester(kRequesterConsole), window_(window) {}
    // The answer as the flow left it, its whole error text with it (the wire's holds 50 characters).
    void sendAnswer(const WorkstationPacket& r) override
    {
        WorkstationPacket got = r;
        got.RequestType = r.AnswerType;
        got.RequestData = r.AnswerData;
        window_.cConsole_Arrival(got);
    }

protected:
    bool connected() const override { return true; }
    void deliver(const std::string& bytes) override
    {
        std::string b = bytes;
        WorkstationPacket got;
        if (WS_DecodePacket(b, got) > 0)
            window_.cConsole_Arrival(got);
    }

private:
    fMain& window_;
};

} // namespace

std::shared_ptr<Requester> Console_Requester(fMain& window) { return std::make_shared<ConsoleRequester>(window); }

void fMain::AskOperator(const std::string& prompt, const std::string& second)
{
    // Headless nobody answers: the box says so and answers empty, and the request ends unfinished.
    if (Ui_Headless()) {
        console_->answer(Inp_Box(prompt, second));
        return;
    }
    if (prompt_)
        prompt_->close();
    auto* dialog = new PromptDialog(this, Text_ToQString(Str_Replace(prompt, "\r", "\n")), Text_ToQString(second),
                                    Requester::AnswerSeconds());
    prompt_ = dialog;
    connect(dialog, &PromptDialog::answered, this, [this](const QString& text) { console_->answer(Text_FromQString(text)); });
    // The request stops waiting (its time is up, the program stops): the prompt goes with it.
    connect(console_.get(), &Requester::askEnded, dialog, &QWidget::close);
    dialog->open();
}

void fMain::cConsole_Arrival(const WorkstationPacket& p)
{
    switch (p.RequestType) {
    case wsBusy:
        break;
    case wsInfo:
        Label("lConsole")->setText(Text_ToQString(p.RequestData));
        break;
    case wsDialog: {
        std::string prompt, second;
        WS_ParseDialog(p.RequestData, prompt, second);
        AskOperator(prompt, second);
        break;
    }
    case 9: {   // a question: the pressed button's code is the answer
        std::string prompt;
        std::int16_t number = 0;
        WS_ParseDialogNumber(p.RequestData, prompt, number);
        if (QWidget* box = Msg_Open(prompt, number, [this](int code) { console_->answer(std::to_string(code)); }))
            connect(console_.get(), &Requester::askEnded, box, &QWidget::close);
        break;
    }
    case wsPrint:
        console_->answer(cConsole_Print(p.RequestData) ? "-1" : "0");
        break;
    case wsApproval:
        Label("lConsole")->setText(QString());
        OperatorRequestEnds(p.WorkstationTrans, true);
        break;
    case wsError: {
        std::int16_t code = 0;
        std::string text;
        WS_ParseError(p.RequestData, code, text);
        // Whole, as the flow said it (the answer's own field holds 50 characters).
        text = Str_Trim(text);
        if (!text.empty() && p.AnswerText.rfind(text, 0) == 0)
            text = p.AnswerText;
        // The card centre's verdict is "Viga nr. ..."; everything else the terminal decided itself.
        const bool cardCentre = text.rfind("Viga nr. ", 0) == 0;
        Err_Report(code, Text_Utf8ToCp1252("tehing ") + p.WorkstationTrans,
                   cardCentre ? "Kaardikeskus keeldus: " + text : text, 16, "");
        Label("lConsole")->setText(Text_ToQString(cardCentre ? "Kaardikeskus keeldus" : "Tehing ei toimunud"));
        OperatorRequestEnds(p.WorkstationTrans, false);
        break;
    }
    case wsUnfinished:
        Err_Report(0, Text_Utf8ToCp1252("tehing ") + p.WorkstationTrans,
                   Text_Utf8ToCp1252("Tehing jäi pooleli: küsimusele ei vastatud"), 48, "");
        OperatorRequestEnds(p.WorkstationTrans, false);
        break;
    case 21:
        Err_Report(0, "", "Kaardikeskus keeldus tehingut sooritamast!", 16, "");
        OperatorRequestEnds(p.WorkstationTrans, false);
        break;
    default:
        Err_Report(0, "", "Arusaamatu vastus: " + std::to_string(p.RequestType), 16,
                   "Data=" + Url_Encode(p.RequestData));
        OperatorRequestEnds(p.WorkstationTrans, false);
        break;
    }
}

void fMain::cConsole_Send(WorkstationPacket request)
{
    if (!service_) return;
    if (!service_->Submit(std::move(request), console_))
        Err_Report(0, "", Text_Utf8ToCp1252("Päringute järjekord on täis"), 16, "");
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
