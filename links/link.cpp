#include "links/link.h"

#include "links/tcp.h"
#include "links/x25.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/text.h"

namespace tollan {

bool Link_UsesX25() { return Num_Value(Cfg_Get("UseX25", "0")) != 0; }

namespace {

// The link of the connection on `socket`; the setting's when it was not made by Link_Connect.
bool overX25(const Socket& socket) { return socket.linkKind() < 0 ? Link_UsesX25() : socket.linkKind() == 1; }

} // namespace

bool Link_Connect(Socket& socket, std::string_view linkName, double timeoutSeconds)
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
            connected = X25_Connect(script);
        else
            connected = Tcp_Connect(socket, Cfg_Get("Tollan_" + name, ""), timeoutSeconds);
        socket.setLinkKind(connected ? int(x25) : -1);
        // Half a second before the next attempt; workstation requests keep arriving meanwhile.
        if (!connected)
            Clock_WaitUntil([] { return false; }, 500);
    }
    return connected;
}

bool Link_Send(Socket& socket, std::string_view data)
{
    return overX25(socket) ? X25_Send(data) : Tcp_Send(socket, data);
}

bool Link_WaitFor(Socket& socket, std::string_view pattern, std::int16_t timeoutSeconds)
{
    return overX25(socket) ? X25_WaitFor(pattern, timeoutSeconds) : Tcp_WaitFor(socket, pattern, timeoutSeconds);
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
