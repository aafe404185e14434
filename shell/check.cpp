// `tollan check`: what an administrator can try without a purchase. The settings check the
// terminal runs at its start, then each card-centre address connected to as a request would
// (TLS with its certificates and pins where "UseTLS" says), and the modem's port opened where
// "UseX25" says. Each result on a line of its own; a failure is said, not written to tollan.err.
#include "shell/command_line.h"

#include "links/link.h"
#include "links/socket.h"
#include "links/tls.h"
#include "links/x25.h"
#include "settings/known.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/clock.h"
#include "support/registry.h"
#include "support/task.h"
#include "support/text.h"
#include "support/wait.h"

#include <QSerialPort>

#include <cstdio>

namespace tollan {

namespace {

// Connects to "host:port" on the terminal's own socket, and says how it went.
Task<bool> CardCentreAnswers(std::string address, double seconds, std::string& said)
{
    const std::size_t colon = address.rfind(':');
    QString host = Text_ToQString(address.substr(0, colon));
    if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
    const int port = int(Num_Value(address.substr(colon + 1)));
    Socket socket;
    socket.setRemoteHost(host);
    socket.setRemotePort(port);
    const bool tls = Tls_InUse();
    if (tls) {
        TlsParams params;
        std::string failure;
        if (!Tls_Params(host, port, params, failure)) {
            said = Text_Cp1252ToUtf8(failure);
            co_return false;
        }
        socket.setTls(std::move(params));
    }
    std::string error;
    // Said here, in the check's own line, rather than as a report of the running terminal.
    QObject::connect(&socket, &Socket::error, &socket, [&error](int, const QString& description, bool* cancel) {
        *cancel = true;
        error = Text_FromQString(description);
        Wait_Notify();
    });
    SocketFailure f;
    if (!socket.connectToRemote(&f)) {
        said = Text_Cp1252ToUtf8(f.description);
        co_return false;
    }
    // The connect awaited as a request awaits it, on the program's clock.
    co_await Wait_Until([&] { return socket.state() == kSockConnected || socket.state() == kSockClosed || !error.empty(); },
                        std::int64_t(seconds * 1000));
    if (socket.state() == kSockConnected) {
        said = tls ? "answered over TLS (certificate verified" + std::string(Cfg_Lookup("TLS\\Pin", "").empty() ? ")" : ", key pinned)")
                   : "answered over TCP";
        socket.close();
        co_return true;
    }
    if (!socket.tlsFailure().description.empty()) error = socket.tlsFailure().description;
    said = "no answer: " + (error.empty() ? std::string("nothing within " + Num_Text(seconds) + " s") : Text_Cp1252ToUtf8(error));
    co_return false;
}

bool ModemPortOpens(std::string& said)
{
    QSerialPort port;
    if (!X25_SetUpPort(port)) {
        said = "its settings cannot be used";
        return false;
    }
    if (!port.open(QIODevice::ReadWrite)) {
        said = "cannot be opened: " + port.errorString().toStdString();
        return false;
    }
    port.close();
    said = "opened";
    return true;
}

} // namespace

int Cli_Check(const QStringList& command)
{
    if (command.size() != 1) {
        std::fprintf(stderr, "%s", Cli_Usage().toLocal8Bit().constData());
        return 64;
    }
    Cfg_Init(kCfgRoot, 3, std::string("HKEY=") + std::string(kCfgHklm) + ";SaveDefaults=0;");
    std::string why;
    if (Reg_Check(&why) != kRegOk) {
        std::fprintf(stderr, "tollan: cannot read the settings, %s\n", Text_Cp1252ToUtf8(why).c_str());
        return 3;
    }
    bool all = Cli_ConfigCheck() == 0;
    std::fflush(stdout);
    if (Link_UsesX25()) {
        std::string said;
        all = ModemPortOpens(said) && all;
        std::printf("X25\\CommPort %s: %s\n", Text_Cp1252ToUtf8(Text_FromQString(X25_PortName(Cfg_Lookup("X25\\CommPort", "1")))).c_str(),
                    said.c_str());
    } else {
        const double seconds = Num_Value(Cfg_Lookup("TimeOut\\Connect", "60"));
        for (const char* key : {"Tollan_Auth_Address", "Tollan_Trans_Address"}) {
            const std::string address = Str_Trim(Cfg_Lookup(key, ""));
            std::string said = "not set";
            const KnownSetting* row = Settings_Find(key);
            const bool usable = !address.empty() && !Settings_Problem(*row, key, Text_Cp1252ToUtf8(address));
            if (!address.empty() && !usable) said = "not host:port";
            bool answered = false;
            if (usable) {
                Task<bool> check = CardCentreAnswers(address, seconds > 0 ? seconds : 60, said);
                Clock_WaitUntil([&check] { return check.done(); }, -1);
                answered = check.result();
            }
            all = answered && all;
            std::printf("%s%s%s: %s\n", key, address.empty() ? "" : " ", Text_Cp1252ToUtf8(address).c_str(), said.c_str());
            std::fflush(stdout);
        }
    }
    return all ? 0 : 1;
}

} // namespace tollan
