#include "links/tcp.h"

#include "links/dialup.h"
#include "links/matches.h"
#include "links/tls.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/text.h"
#include "support/wait.h"

#include <algorithm>

namespace tollan {
namespace {

constexpr int kCritical = 16;

// Our messages are written here in UTF-8 and reported in Windows-1252, as every text is.
void report(std::int32_t number, std::string_view description, std::string_view message)
{
    Err_Report(number, description, Text_Utf8ToCp1252(message), kCritical, {});
}

bool useRas() { return Num_Value(Cfg_Get("UseRAS", "0")) != 0; }

bool allDigits(std::string_view t)
{
    return !t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A connection that has just closed still holds what the peer sent before it went.
bool holdsData(const Socket& s) { return s.state() == kSockConnected || s.state() == kSockClosing; }

} // namespace

Task<bool> Tcp_Connect(Socket& socket, std::string address, double timeoutSeconds)
{
    co_await DialUse_Acquire();
    const std::int64_t start = Clock_Ms();

    auto failAtOnce = [&](std::int32_t number, std::string_view description) {
        report(number, description, "Viga ühenduse loomisel");
        socket.close();
        DialUse_Release();
        return false;
    };

    // An address without its port, or with a port that is no number, is a setting to correct: it
    // fails like a connect call that cannot start, and the program goes on.
    std::size_t colon = address.find(':');
    if (colon == std::string::npos)
        co_return failAtOnce(10049, "address \"" + address + "\" is not host:port");
    std::string portText = Str_Trim(std::string_view(address).substr(colon + 1));
    if (!allDigits(portText))
        co_return failAtOnce(10049, "port \"" + portText + "\" of \"" + address + "\" is not a number");

    socket.setLocalPort(0);
    socket.setRemoteHost(Text_ToQString(std::string_view(address).substr(0, colon)));
    socket.setRemotePort(std::int32_t(std::min(Num_Value(portText), 1e6)));
    // The dial-up connection is up by now; TLS goes over whatever link carries the TCP.
    socket.setTls(std::nullopt);
    if (Tls_InUse()) {
        TlsParams tls;
        std::string why;
        if (!Tls_Params(socket.remoteHost(), socket.remotePort(), tls, why))
            co_return failAtOnce(0, why);
        socket.setTls(std::move(tls));
    }
    SocketFailure f;
    if (!socket.connectToRemote(&f))
        co_return failAtOnce(f.number, f.description);

    // An error state does not end the wait: the socket's error event closes it, or the time passes.
    // Only -1 waits without limit; any other time-out below zero allows no time at all.
    const std::int64_t limit = timeoutSeconds == -1 ? -1 : std::int64_t(std::max(timeoutSeconds, 0.0) * 1000);
    if (limit != 0)
        co_await Wait_Until(
            [&] {
                int st = socket.state();
                return st == kSockClosed || st == kSockConnected;
            },
            limit < 0 ? -1 : std::max<std::int64_t>(1, start + limit - Clock_Ms()));

    if (socket.state() == kSockConnected) {
        socket.setDialCounted(useRas());
        co_return true;
    }
    const bool handshaking = socket.handshaking();
    if (socket.state() != kSockClosed)
        Tcp_Close(socket);
    if (App_Stopping()) {   // left unfinished on purpose: nothing to report
        DialUse_Release();
        co_return false;
    }
    // A failed handshake is reported in its own words (the socket's error event has recorded it
    // already, unseen, as it records a refused connection).
    const SocketFailure& tls = socket.tlsFailure();
    if (!tls.description.empty())
        report(tls.number, tls.description, "Ei õnnestu sidekanalit luua");
    else if (handshaking)
        report(0, Text_Utf8ToCp1252("TLS: kätlus ei lõppenud ettenähtud aja jooksul"), "Ei õnnestu sidekanalit luua");
    else
        report(0, "TCP timeout", "Ei õnnestu sidekanalit luua");
    DialUse_Release();
    co_return false;
}

bool Tcp_Send(Socket& socket, std::string_view data)
{
    if (socket.state() != kSockConnected)
        return false;
    socket.sendData(data);
    DialUse_Touch();
    return true;
}

std::string Tcp_Receive(Socket& socket, std::int32_t max)
{
    if (!holdsData(socket))
        return {};
    std::string taken = socket.getData(max > 0 ? std::size_t(max) : 0);
    DialUse_Touch();
    return taken;
}

Task<bool> Tcp_WaitFor(Socket& socket, std::string pattern, std::int16_t timeoutSeconds)
{
    auto matched = [&] { return holdsData(socket) && Link_Matches(pattern, socket.peekData()); };
    const bool heard = co_await Wait_Until([&] { return matched() || socket.state() != kSockConnected; },
                                           timeoutSeconds == -1 ? -1 : std::int64_t(timeoutSeconds) * 1000 + 1);
    if (matched())
        co_return true;
    // A stopping program leaves the line at once; nothing went wrong to report.
    if (App_Stopping())
        co_return false;
    if (!heard)
        report(0, "TCP timeout", "Sidepartner ei vasta päringule");
    else
        report(0, "TCP disconnect", "Ühendus katkes");
    co_return false;
}

bool Tcp_Close(Socket& socket)
{
    // A workstation's socket was never counted in: closing it must not count out a card-centre
    // link that still uses the dial-up connection. A card-centre socket that its error event has
    // closed already is still counted in until its dialogue closes it.
    if (socket.dialCounted() && useRas())
        DialUse_Release();
    socket.setDialCounted(false);
    socket.setTag({});
    socket.close();
    return true;
}

void Tcp_CardCentreClose(Socket& socket)
{
    // A card centre may answer and hang up at once: what it sent stays for the dialogue to read, in
    // the closing state, until the dialogue closes the link.
    if (socket.bytesWaiting() > 0)
        return;
    Tcp_Close(socket);
}

void Tcp_CardCentreError(Socket& socket, int number, std::string_view description, bool* cancelDisplay,
                         std::string_view message)
{
    Log_Event(&socket, std::to_string(number) + " - " + std::string(description));
    Err_Log(number, description, message);
    if (cancelDisplay)
        *cancelDisplay = true;
    if (socket.state() != kSockClosed)
        socket.close();
}

void Tcp_HandleCardCentreEvents(Socket& socket, std::string_view message)
{
    std::string msg(message);
    QObject::connect(&socket, &Socket::closed, &socket, [&socket] { Tcp_CardCentreClose(socket); });
    QObject::connect(&socket, &Socket::error, &socket,
                     [&socket, msg](int number, const QString& description, bool* cancel) {
                         Tcp_CardCentreError(socket, number, Text_FromQString(description), cancel, msg);
                     });
}

} // namespace tollan
