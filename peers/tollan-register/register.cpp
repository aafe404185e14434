#include "peers/tollan-register/register.h"

#include "protocol/messages.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/text.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

namespace tollan::peer {
namespace {

std::string Money(std::int64_t v)
{
    const bool negative = v < 0;
    const std::uint64_t a = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    const std::uint64_t fraction = a % 10000;
    std::string s = std::to_string(a / 10000) + ".";
    std::string f = std::to_string(fraction + 10000).substr(1);
    if (f.substr(2) == "00")
        f.resize(2);
    return (negative ? "-" : "") + s + f;
}

std::string Lines(std::string_view text)
{
    return Text_Cp1252ToUtf8(Str_Replace(Str_Replace(text, "\r\n", "\n"), "\r", "\n"));
}

std::string LeadingDigits(std::string_view s)
{
    std::size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9')
        ++n;
    return std::string(s.substr(0, n));
}

} // namespace

int Register_FinalStatus(int answerType)
{
    switch (answerType) {
    case wsApproval: return kStatusApproved;
    case wsError: return kStatusRefused;
    case wsUnfinished: return kStatusUnfinished;
    case wsCardInfo: return kStatusCardInfo;
    default: return -1;
    }
}

std::string Register_CardData(std::string_view card, char entry, std::string_view expiry)
{
    std::string yymm(expiry);
    if (yymm.empty()) {
        // The four digits after the card number's separator, as a stripe carries them.
        const std::size_t sep = LeadingDigits(card).size();
        if (sep < card.size())
            yymm = LeadingDigits(card.substr(sep + 1)).substr(0, 4);
    }
    return Str_Align(card, 40, 1) + entry + Str_Align(yymm, 4, 1) + std::string(5, ' ');
}

std::string Register_Escape(std::string_view bytes) { return Str_Replace(bytes, "%", "%25"); }

std::string Register_Name(std::string_view base, int n)
{
    // The trailing digits (at most 18 of them) are the number; what stands before them stays.
    std::size_t start = base.size();
    while (start > 0 && base.size() - start < 18 && base[start - 1] >= '0' && base[start - 1] <= '9')
        --start;
    const std::string digits(base.substr(start));
    const std::size_t width = digits.empty() ? 3 : digits.size();
    std::uint64_t modulus = 1;
    for (std::size_t i = 0; i < width; ++i)
        modulus *= 10;
    const std::uint64_t first = digits.empty() ? 0 : std::stoull(digits);
    std::string number = std::to_string((first + static_cast<std::uint64_t>(n)) % modulus);
    number.insert(0, width - number.size(), '0');
    return std::string(base.substr(0, start)) + number;
}

std::string Register_ClockNumber() { return KK_Number(QDateTime::currentMSecsSinceEpoch() / 10 % 100000000, 8); }

WorkstationPacket Register_Request(const RegisterOptions& o, const std::string& trans)
{
    WorkstationPacket r;
    r.Workstation = o.workstation;
    r.WorkstationTrans = trans;
    r.Word2 = 1;
    switch (o.action) {
    case Action::Purchase: {
        PurchaseRequest q;
        q.Reference = o.reference;
        q.Kind = o.kind;
        const DateTime now = Clock_NowDateTime();
        q.Date = Date_Number(now);
        q.Time = Time_Number(now);
        q.Amount = o.amount;
        q.PAN = o.pan.empty() ? LeadingDigits(o.card) : o.pan;
        q.CardData = Register_CardData(o.card, o.entry, o.expiry);
        r.AnswerType = wsPurchase;
        r.AnswerData = WS_EncodePurchase(q, o.items);
        break;
    }
    case Action::Cancel:
        r.AnswerType = wsCancel;
        r.AnswerData = o.cancelKey;
        break;
    case Action::Query:
        r.AnswerType = wsCardQuery;
        r.AnswerData = Str_Align(o.card, 25, 1) + Str_Align(o.second, 10, 1);
        break;
    }
    return r;
}

std::string Register_Describe(const WorkstationPacket& p)
{
    const std::string& d = p.RequestData;
    std::string head = std::to_string(p.RequestType) + " ";
    std::int16_t code = 0;
    std::string text, second;
    switch (p.RequestType) {
    case wsError:
    case wsUnfinished:
        WS_ParseError(d, code, text);
        return head + (p.RequestType == wsError ? "refused " : "unfinished ") + std::to_string(code) + ": " +
               Text_Cp1252ToUtf8(text);
    case wsBusy:
        return head + "busy: " + Lines(Str_Trim(d));
    case wsInfo:
        return head + "info: " + Lines(d);
    case wsDialog:
        WS_ParseDialog(d, text, second);
        return head + "prompt: " + Lines(text) + (second.empty() ? "" : " [" + Lines(second) + "]");
    case wsApproval: {
        std::string s = head + "approved: date " + std::to_string(Bin_Decode<std::int32_t>(d.substr(std::min<std::size_t>(2, d.size())))) +
                        " time " + std::to_string(Bin_Decode<std::int32_t>(d.substr(std::min<std::size_t>(6, d.size())))) +
                        " amount " + Money(Bin_Decode<std::int64_t>(d.substr(std::min<std::size_t>(10, d.size()))));
        const int items = Bin_Decode<std::int16_t>(d.substr(std::min<std::size_t>(36, d.size())));
        s += " items " + std::to_string(items);
        for (int i = 0; i < items && 38 + 16 * (i + 1) <= static_cast<int>(d.size()); ++i)
            s += " [" + Money(Bin_Decode<std::int64_t>(d.substr(38 + 16 * i))) + " " +
                 Money(Bin_Decode<std::int64_t>(d.substr(46 + 16 * i))) + "]";
        return s;
    }
    case wsCardInfo:
        return head + "card information: " + Text_Cp1252ToUtf8(Str_Trim(d.substr(0, 25))) + " " +
               Text_Cp1252ToUtf8(Str_Trim(d.substr(std::min<std::size_t>(45, d.size()), 25)));
    case wsPrint:
        return head + "print:\n" + Lines(d);
    default:
        return head + "unknown, " + std::to_string(d.size()) + " bytes";
    }
}

Register::Register(RegisterOptions options, std::function<void(const std::string&)> print)
    : o_(std::move(options)), print_(std::move(print)), random_(o_.seed)
{
    timeout_.setSingleShot(true);
    pace_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, [this] {
        print_("[" + o_.workstation + "] no answer in " + std::to_string(o_.timeoutMs) + " ms");
        Ended(kStatusTimeOut);
    });
    connect(&pace_, &QTimer::timeout, this, &Register::Begin);
    connect(&socket_, &QTcpSocket::connected, this, &Register::Next);
    connect(&socket_, &QTcpSocket::readyRead, this, &Register::Arrived);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (status_ >= 0)
            return;
        print_("[" + o_.workstation + "] " + socket_.errorString().toStdString());
        Ended(kStatusNoAnswer);
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        if (status_ < 0) {
            print_("[" + o_.workstation + "] the terminal closed the line");
            Ended(kStatusNoAnswer);
        }
    });
}

void Register::Start()
{
    run_.start();
    // Poisson arrivals: the gaps between requests are drawn from the exponential distribution,
    // the first one too, so that registers started together do not all send at once.
    if (o_.rate > 0)
        arrivalMs_ = std::exponential_distribution<double>(o_.rate)(random_) * 1000;
    // A register elsewhere on the shop network, as the terminal's "AllowFrom" sees it.
    if (!o_.source.isEmpty() && !socket_.bind(QHostAddress(o_.source), 0)) {
        print_("[" + o_.workstation + "] cannot connect from " + o_.source.toStdString() + ": " +
               socket_.errorString().toStdString());
        Ended(kStatusNoAnswer);
        return;
    }
    // The connection is made within the first request's time: a terminal that does not take it
    // is no answer.
    timeout_.start(o_.timeoutMs);
    socket_.connectToHost(o_.host, o_.port);
}

void Register::Next()
{
    timeout_.stop();
    const bool counted = o_.requests > 0 && made_ >= o_.requests;
    const bool late = o_.durationMs > 0 && run_.elapsed() >= o_.durationMs;
    if (counted || late || (o_.durationMs > 0 && o_.rate > 0 && arrivalMs_ >= double(o_.durationMs))) {
        Finish(worst_);
        return;
    }
    const double wait = arrivalMs_ - double(run_.elapsed());
    if (wait > 0) {
        pace_.start(static_cast<int>(std::ceil(wait)));
        return;
    }
    Begin();
}

void Register::Begin()
{
    // The first request's number is --trans (or one from the clock), the next ones count on.
    if (trans_.empty())
        trans_ = o_.trans.empty() ? Register_ClockNumber() : o_.trans;
    else
        trans_ = Register_Name(trans_, 1);
    ++made_;
    ++generation_;
    answered_ = 0;
    inRequest_ = true;
    if (o_.rate > 0)
        arrivalMs_ += std::exponential_distribution<double>(o_.rate)(random_) * 1000;
    timeout_.start(o_.timeoutMs);
    request_.start();
    waiting_ = true;
    heardMs_ = 0;
    Send(Register_Request(o_, trans_), "-> ");
}

void Register::Ended(int status)
{
    if (status_ >= 0)
        return;
    const bool answered = status != kStatusNoAnswer && status != kStatusTimeOut;
    // A line lost between requests ends the register, and counts as a failed request only when
    // it had made none yet.
    if (inRequest_ || made_ == 0)
        results_.push_back({status, answered ? double(request_.nsecsElapsed()) / 1e6 : -1.0});
    inRequest_ = false;
    ++generation_;
    worst_ = std::max(worst_, status);
    // Without an answer the line can no longer be trusted: what comes on it may be the old
    // request's. The register ends there.
    if (!answered) {
        Finish(worst_);
        return;
    }
    Next();
}

void Register::Send(WorkstationPacket p, const std::string& prefix)
{
    const std::string wire = Register_Escape(WS_EncodePacket(p));
    if (!o_.quiet) {
        std::string what = std::to_string(p.AnswerType) + " ";
        switch (p.AnswerType) {
        case wsPurchase: what += "purchase " + Money(o_.amount) + " card " + Text_Cp1252ToUtf8(o_.card); break;
        case wsCancel: what += "cancellation of " + Text_Cp1252ToUtf8(o_.cancelKey); break;
        case wsCardQuery: what += "card query " + Text_Cp1252ToUtf8(o_.card); break;
        default: what += "answer \"" + Text_Cp1252ToUtf8(p.AnswerData) + "\""; break;
        }
        print_("[" + o_.workstation + "] " + prefix + what);
    }
    socket_.write(wire.data(), static_cast<qint64>(wire.size()));
}

void Register::Arrived()
{
    const QByteArray data = socket_.readAll();
    in_.append(data.constData(), static_cast<std::size_t>(data.size()));
    WorkstationPacket p;
    while (status_ < 0) {
        if (WS_DecodePacket(in_, p) > 0)
            Handle(p);
        else if (!DropBroken(in_))
            break;
    }
}

bool Register::DropBroken(std::string& in)
{
    // A packet that is all there and still does not decode (its CRC, a negative length) would
    // hold up every packet behind it: its marker goes, and the search starts after it.
    const std::size_t marker = in.find("\xFF\xFF");
    if (marker == std::string::npos) {
        in.erase(0, in.size() > 0 && in.back() == '\xFF' ? in.size() - 1 : in.size());
        return false;
    }
    if (in.size() - marker < kWsHeaderSize)
        return false;
    const std::int16_t n = Bin_Decode<std::int16_t>(std::string_view(in).substr(marker + 26, 2));
    if (n >= 0 && in.size() - marker < kWsHeaderSize + static_cast<std::size_t>(n))
        return false;
    print_("[" + o_.workstation + "] dropped a broken packet");
    in.erase(0, marker + 2);
    return true;
}

std::string Register::NextAnswer(const std::string& prompt)
{
    if (answered_ < o_.answers.size())
        return o_.answers[answered_++];
    if (!o_.interactive)
        return {};
    std::fprintf(stdout, "%s\n> ", Lines(prompt).c_str());
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line))
        return {};
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Text_Utf8ToCp1252(line);
}

void Register::Handle(const WorkstationPacket& p)
{
    if (inRequest_ && waiting_) {
        const qint64 now = request_.elapsed();
        waitingSilenceMs_ = std::max(waitingSilenceMs_, double(now - heardMs_));
        heardMs_ = now;
        waiting_ = p.RequestType == wsBusy;
    }
    if (!o_.quiet)
        print_("[" + o_.workstation + "] <- " + Register_Describe(p));
    WorkstationPacket answer;
    answer.Workstation = o_.workstation;
    answer.WorkstationTrans = trans_;   // prompt answers carry the request's number
    answer.Word2 = p.Word2;
    answer.Word20 = p.Word20;
    answer.AnswerType = wsDialogAnswer;
    switch (p.RequestType) {
    case wsDialog: {
        std::string prompt, second;
        WS_ParseDialog(p.RequestData, prompt, second);
        answer.AnswerData = NextAnswer(prompt);
        if (o_.promptDelayMs <= 0) {
            Send(answer, "-> ");
            return;
        }
        // A cashier who takes a while: the answer goes later, on a timer of this register's own,
        // so that the other registers go on meanwhile; not at all if its request has ended.
        QTimer::singleShot(o_.promptDelayMs, this, [this, answer, generation = generation_] {
            if (generation == generation_ && status_ < 0)
                Send(answer, "-> ");
        });
        return;
    }
    case wsPrint:
        answer.AnswerData = o_.printAnswer;
        Send(answer, "-> ");
        return;
    default:
        if (const int status = Register_FinalStatus(p.RequestType); status >= 0 && inRequest_)
            Ended(status);
    }
}

void Register::Stop()
{
    if (status_ >= 0)
        return;
    if (inRequest_)
        results_.push_back({kStatusStopped, double(request_.nsecsElapsed()) / 1e6});
    inRequest_ = false;
    Finish(worst_);
}

void Register::Finish(int status)
{
    if (status_ >= 0)
        return;
    status_ = status;
    elapsedMs_ = run_.elapsed();
    timeout_.stop();
    pace_.stop();
    socket_.disconnectFromHost();
    if (finished)
        finished(*this);
}

} // namespace tollan::peer
