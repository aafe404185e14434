#include "links/link.h"

#include "links/tcp.h"
#include "links/x25.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/text.h"
#include "support/wait.h"

namespace tollan {

bool Link_UsesX25() { return Num_Value(Cfg_Get("UseX25", "0")) != 0; }

namespace {

// The link of the connection on `socket`; the setting's when it was not made by Link_Connect.
bool overX25(const Socket& socket) { return socket.linkKind() < 0 ? Link_UsesX25() : socket.linkKind() == 1; }

} // namespace

Task<bool> Link_Connect(Socket& socket, std::string linkName, double timeoutSeconds)
{
    const std::string name(linkName);
    std::string script;
    if (Link_UsesX25())
        script = Cfg_Get("X25\\Number", "") + "\r" + Cfg_Get("X25\\" + name, "") + "\r" +
                 Cfg_Get("X25\\Username", "") + "\r" + Cfg_Get("X25\\Password", "");
    bool connected = false;
    // A stopping program opens no new line to the card centre.
    for (int attempt = 0; attempt < 3 && !connected && !App_Stopping(); ++attempt) {
        // The setting may change between attempts; each one follows it.
        const bool x25 = Link_UsesX25();
        if (x25)
            connected = co_await X25_Connect(script);
        else
            connected = co_await Tcp_Connect(socket, Cfg_Get("Tollan_" + name, ""), timeoutSeconds);
        socket.setLinkKind(connected ? int(x25) : -1);
        // Half a second before the next attempt; other requests go on meanwhile.
        if (!connected)
            co_await Wait_For(500);
    }
    co_return connected;
}

bool Link_Send(Socket& socket, std::string_view data)
{
    return overX25(socket) ? X25_Send(data) : Tcp_Send(socket, data);
}

Task<bool> Link_WaitFor(Socket& socket, std::string pattern, std::int16_t timeoutSeconds)
{
    if (overX25(socket))
        co_return co_await X25_WaitFor(std::move(pattern), timeoutSeconds);
    co_return co_await Tcp_WaitFor(socket, std::move(pattern), timeoutSeconds);
}

std::string Link_Receive(Socket& socket, std::int32_t max)
{
    return overX25(socket) ? X25_Receive(max) : Tcp_Receive(socket, max);
}

void Link_Close(Socket& socket)
{
    if (overX25(socket))
        X25_Close();
    else
        Tcp_Close(socket);
    socket.setLinkKind(-1);
}

} // namespace tollan
