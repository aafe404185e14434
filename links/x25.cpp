#include "links/x25.h"

#include "links/matches.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"
#include "support/wait.h"

#include <QPointer>
#include <QSerialPort>

#include <algorithm>
#include <limits>
#include <vector>

namespace tollan {
namespace {

constexpr int kCritical = 16;
constexpr char kCR = '\r';

// The serial link: the port start-up handed over, whether our connect has it open, and what has
// been read from it and not yet taken.
struct SerialLink {
    QPointer<QSerialPort> port;
    bool open = false;
    std::string buffer;
};
SerialLink g_link;

// Our messages are written here in UTF-8 and reported in Windows-1252, as every text is.
void report(std::int32_t number, std::string_view description, std::string_view message,
            std::string_view details = {})
{
    Err_Report(number, description, Text_Utf8ToCp1252(message), kCritical, details);
}

bool attached() { return !g_link.port.isNull(); }

// A port whose device went away (the modem's side of the line closed) counts as closed: we close it
// so that the next connect can open it again.
bool lineOpen()
{
    if (!g_link.open || !attached())
        return false;
    if (g_link.port->isOpen() && g_link.port->error() != QSerialPort::ResourceError)
        return true;
    g_link.port->close();
    g_link.open = false;
    return false;
}

std::string asciiLower(std::string t)
{
    std::transform(t.begin(), t.end(), t.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    return t;
}

// --- The dialogue with the modem and the PAD -------------------------------------------------

// The call script split at CR: 1 telephone number, 2 X.25 address, 3 user identity, 4 password.
struct CallParts {
    std::vector<std::string> parts;
    std::string operator()(std::size_t n) const { return n >= 1 && n <= parts.size() ? parts[n - 1] : std::string(); }
};

enum class Fold { None, Upper, Lower };

struct Stage {
    const char* name;
    std::string (*command)(const CallParts&);  // sent with CR after it
    const char* pattern;
    std::int16_t timeoutSeconds;
    const char* timeoutKey;  // when set, the time-out is this setting, with the seconds as its default
    int pauseMs;             // after a successful wait, before the answer is taken
    Fold fold;               // the answer, turned to capitals or small letters, must contain `mustHold`
    const char* mustHold;
};

const Stage kStages[] = {
    {"INIT", [](const CallParts&) { return Cfg_Get("X25\\ModemInit", "atz"); },
     "OK\r", 3, nullptr, 50, Fold::None, nullptr},
    {"SETTINGS", [](const CallParts&) { return Cfg_Get("X25\\ModemSettings", "ATM0E0"); },
     "OK\r", 3, nullptr, 50, Fold::None, nullptr},
    {"DIAL", [](const CallParts& p) { return "atdt" + p(1); },
     "???\r", 30, "TimeOut\\Connect", 0, Fold::Upper, "ONNECT"},
    {"<CR>", [](const CallParts&) { return Cfg_Get("X25\\TestConnection", ""); },
     "err\r", 15, nullptr, 50, Fold::None, nullptr},
    {"CN", [](const CallParts& p) { return "CN" + p(3) + "/" + p(4) + "-" + p(2); },
     "[ce][olr][mr]", 30, nullptr, 0, Fold::Lower, "com"},
};

std::int16_t stageTimeout(const Stage& s)
{
    if (!s.timeoutKey)
        return s.timeoutSeconds;
    // Read, never written back: the card-centre dialogues read the same setting with 60 seconds.
    const double v = Num_Value(Cfg_Lookup(s.timeoutKey, std::to_string(s.timeoutSeconds)));
    return std::int16_t(std::clamp(v, double(std::numeric_limits<std::int16_t>::min()),
                                   double(std::numeric_limits<std::int16_t>::max())));
}

bool answerPasses(const Stage& s, const std::string& answer)
{
    if (!s.mustHold)
        return true;
    const std::string folded = s.fold == Fold::Upper ? Str_Upper(answer) : s.fold == Fold::Lower ? asciiLower(answer) : answer;
    return folded.find(s.mustHold) != std::string::npos;
}

bool connectFails(const Stage& stage, std::string lastResponse)
{
    // What has arrived by now belongs in the report, so it is read in before the port goes.
    X25_Poll();
    if (attached())
        g_link.port->close();
    g_link.open = false;
    if (lastResponse.empty())
        lastResponse = X25_Receive(0);
    report(0, "X25 unable to connect",
           std::string("Mittekorrektne vastus tegevusele ") + stage.name + " (" + lastResponse + ")!",
           "Buffer=" + g_link.buffer);
    return false;
}

// --- Serial settings -------------------------------------------------------------------------

bool allDigits(std::string_view t)
{
    return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "9600,n,8,1": speed, parity (n e o m s), data bits (5 to 8), stop bits (1, 1.5, 2).
bool parseLineSettings(std::string_view text, LineSettings& out)
{
    const std::vector<std::string> f = Str_Split(text, ",");
    if (f.size() != 4)
        return false;
    const std::string speed = Str_Trim(f[0]), parity = asciiLower(Str_Trim(f[1])), bits = Str_Trim(f[2]),
                      stop = Str_Trim(f[3]);
    if (!allDigits(speed) || speed.size() > 7 || Num_Value(speed) < 1)
        return false;
    out.baud = qint32(Num_Value(speed));
    static const std::pair<const char*, QSerialPort::Parity> parities[] = {
        {"n", QSerialPort::NoParity}, {"e", QSerialPort::EvenParity}, {"o", QSerialPort::OddParity},
        {"m", QSerialPort::MarkParity}, {"s", QSerialPort::SpaceParity}};
    auto p = std::find_if(std::begin(parities), std::end(parities), [&](const auto& e) { return parity == e.first; });
    if (p == std::end(parities))
        return false;
    out.parity = p->second;
    if (bits.size() != 1 || bits[0] < '5' || bits[0] > '8')
        return false;
    out.dataBits = QSerialPort::DataBits(bits[0] - '0');
    if (stop == "1") out.stopBits = QSerialPort::OneStop;
    else if (stop == "1.5") out.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == "2") out.stopBits = QSerialPort::TwoStop;
    else return false;
    return true;
}

} // namespace

bool X25_Attach(QSerialPort* port)
{
    if (attached() && g_link.port->isOpen())
        g_link.port->close();
    g_link.open = false;
    g_link.port = port;
    // What the port reads, or its device going away, is what a dialogue on the line waits for.
    if (port) {
        QObject::connect(port, &QSerialPort::readyRead, port, [] { Wait_Notify(); });
        QObject::connect(port, &QSerialPort::errorOccurred, port, [] { Wait_Notify(); });
    }
    return true;
}

bool X25_IsAttached() { return attached(); }

bool X25_Poll()
{
    if (!attached() || !g_link.port->isOpen() || g_link.port->bytesAvailable() <= 0)
        return false;
    const QByteArray in = g_link.port->readAll();
    g_link.buffer.append(in.constData(), std::size_t(in.size()));
    return !in.isEmpty();
}

std::string X25_Receive(std::int32_t max)
{
    if (!attached())
        return {};
    X25_Poll();
    std::size_t n = g_link.buffer.size();
    if (max > 0 && std::size_t(max) < n)
        n = std::size_t(max);
    std::string taken = g_link.buffer.substr(0, n);
    g_link.buffer.erase(0, n);
    return taken;
}

bool X25_Send(std::string_view data)
{
    if (!attached() || !g_link.port->isOpen())
        return false;
    if (kX25OutBufferSize - g_link.port->bytesToWrite() < std::int64_t(data.size()))
        return false;
    return g_link.port->write(data.data(), qint64(data.size())) == qint64(data.size());
}

Task<bool> X25_WaitFor(std::string pattern, std::int16_t timeoutSeconds)
{
    if (!attached())
        co_return false;
    bool open = true;
    auto matched = [&] {
        X25_Poll();
        return Link_Matches(pattern, g_link.buffer);
    };
    // Woken by what the port reads, a line that goes, or the deadline.
    const bool heard = co_await Wait_Until([&] { return matched() || !(open = lineOpen()); },
                                           timeoutSeconds == -1 ? -1 : std::int64_t(timeoutSeconds) * 1000 + 1);
    if (matched())
        co_return true;
    // A stopping program leaves the line at once; nothing went wrong to report.
    if (App_Stopping())
        co_return false;
    if (!heard || open)
        report(0, "X25 timeout", "Sidepartner ei vasta päringule");
    else
        report(0, "X25 disconnect", "Ühendus katkes");
    co_return false;
}

bool X25_Close()
{
    if (!attached())
        return false;
    if (g_link.port->isOpen())
        g_link.port->close();
    g_link.open = false;
    return true;
}

Task<bool> X25_Connect(std::string script)
{
    if (!attached() || g_link.open || g_link.port->isOpen())
        co_return false;
    const CallParts parts{Str_Split(script, std::string_view("\r", 1))};

    // A late answer from an earlier call must never be taken for an answer of this one.
    g_link.buffer.clear();

    QSerialPort& port = *g_link.port;
    if (!port.open(QIODevice::ReadWrite)) {
        const std::int32_t number = std::int32_t(port.error());
        report(number, Text_FromQString(port.errorString()), "X25 - Viga ühenduse loomisel");
        X25_Close();
        co_return false;
    }
    port.clear(QSerialPort::Input);
    g_link.open = true;

    for (const Stage& stage : kStages) {
        std::string lastResponse;
        X25_Send(stage.command(parts) + kCR);
        if (!co_await X25_WaitFor(stage.pattern, stageTimeout(stage)))
            co_return connectFails(stage, lastResponse);
        if (stage.pauseMs > 0)
            co_await Wait_For(stage.pauseMs);
        lastResponse = X25_Receive(0);
        if (!answerPasses(stage, lastResponse))
            co_return connectFails(stage, lastResponse);
    }
    co_return true;
}

QString X25_PortName(std::string_view commPort)
{
    const std::string t = Str_Trim(commPort);
    if (allDigits(t) && t.size() <= 3 && Num_Value(t) >= 1)
        return QStringLiteral("/dev/ttyS%1").arg(qint64(Num_Value(t)) - 1);
    return Text_ToQString(t);
}

bool X25_SetUpPort(QSerialPort& port)
{
    const std::string comm = Cfg_Get("X25\\CommPort", "1");
    const std::string hand = Cfg_Get("X25\\Handshaking", "2");
    const std::string line = Cfg_Get("X25\\Settings", "9600,n,8,1");

    auto refuse = [](std::string_view key, std::string_view value) {
        report(380, "Invalid property value: " + std::string(key) + "=" + std::string(value),
               "X25 - Viga jadapordi seadetes");
        return false;
    };
    // A port number is 1 to 255, as the serial component takes it; anything else must be a path.
    const std::string commTrim = Str_Trim(comm);
    if (commTrim.empty() || (allDigits(commTrim) && (commTrim.size() > 3 || Num_Value(commTrim) < 1 || Num_Value(commTrim) > 255)))
        return refuse("X25\\CommPort", comm);
    const std::string handTrim = Str_Trim(hand);
    if (!allDigits(handTrim) || handTrim.size() > 1 || handTrim[0] > '3')
        return refuse("X25\\Handshaking", hand);
    LineSettings ls;
    if (!parseLineSettings(line, ls))
        return refuse("X25\\Settings", line);

    // RTS/CTS with XON/XOFF (3) has no combined form here; the hardware lines win.
    static const QSerialPort::FlowControl flows[] = {QSerialPort::NoFlowControl, QSerialPort::SoftwareControl,
                                                     QSerialPort::HardwareControl, QSerialPort::HardwareControl};
    port.setPortName(X25_PortName(commTrim));
    port.setFlowControl(flows[handTrim[0] - '0']);
    port.setBaudRate(ls.baud);
    port.setParity(ls.parity);
    port.setDataBits(ls.dataBits);
    port.setStopBits(ls.stopBits);
    return true;
}

} // namespace tollan
