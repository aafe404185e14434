#include "workstation/reassembly.h"

#include "support/text.h"

#include <cctype>
#include <cstdint>

namespace tollan {

namespace {

constexpr std::string_view kMarker = "\xFF\xFF";
constexpr std::string_view kEscapedChars = "%:;+{}<>]";

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int dataLength(std::string_view s)
{
    auto lo = static_cast<unsigned char>(s[26]);
    auto hi = static_cast<unsigned char>(s[27]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

// Bytes dropped with no packet between them are one run, logged as one row.
struct Dropper {
    StreamResult& r;
    std::size_t packetsAtLastDrop = static_cast<std::size_t>(-1);
    void operator()(std::string& data, std::size_t n)
    {
        if (n == 0) return;
        if (packetsAtLastDrop == r.packets.size() && !r.dropped.empty())
            r.dropped.back().append(data, 0, n);
        else
            r.dropped.emplace_back(data.substr(0, n));
        packetsAtLastDrop = r.packets.size();
        data.erase(0, n);
    }
};

} // namespace

std::size_t Stream_CompleteEscapes(std::string_view t)
{
    // Walks the escapes as the decoder reads them, so that "%%" or "%25" is never cut in two.
    std::size_t i = 0;
    while (i < t.size()) {
        if (t[i] != '%') { ++i; continue; }
        if (i + 1 == t.size()) return i;
        if (kEscapedChars.find(t[i + 1]) != std::string_view::npos) { i += 2; continue; }
        if (isHex(t[i + 1])) {
            if (i + 2 == t.size()) return i;
            i += isHex(t[i + 2]) ? 3 : 1;
            continue;
        }
        ++i;
    }
    return t.size();
}

void Stream_Reset(StreamBuffer& b)
{
    b.escape.clear();
    b.data.clear();
}

bool Stream_Pending(const StreamBuffer& b) { return !b.data.empty() || !b.escape.empty(); }

StreamResult Stream_Expire(StreamBuffer& b)
{
    // An escape that never got its rest stands for itself.
    b.data += Tpl_Decode(b.escape);
    b.escape.clear();
    // Everything up to the next start marker after the stale one goes, as one run.
    std::size_t next = b.data.find(kMarker, 2);
    if (next == std::string::npos)
        next = b.data.size();
    std::string stale = b.data.substr(0, next);
    b.data.erase(0, next);
    StreamResult r = Stream_Feed(b, {});
    if (!stale.empty())
        r.dropped.insert(r.dropped.begin(), std::move(stale));
    return r;
}

StreamResult Stream_Feed(StreamBuffer& b, std::string_view received)
{
    StreamResult r;
    std::string raw = b.escape;
    raw.append(received);
    std::size_t whole = Stream_CompleteEscapes(raw);
    b.escape = raw.substr(whole);
    b.data += Tpl_Decode(std::string_view(raw).substr(0, whole));

    std::string& d = b.data;
    Dropper drop{r};
    for (;;) {
        std::size_t p = d.find(kMarker);
        if (p == std::string::npos) {
            // A last 0xFF may be the first half of the next marker.
            bool half = !d.empty() && static_cast<unsigned char>(d.back()) == 0xFF;
            drop(d, half ? d.size() - 1 : d.size());
            break;
        }
        drop(d, p);
        if (d.size() < 28) break;
        int n = dataLength(d);
        if (n < 0) {  // no packet announces a negative length: look for the next marker
            drop(d, 2);
            continue;
        }
        if (d.size() < static_cast<std::size_t>(n) + 28) break;  // the rest is still on its way
        WorkstationPacket packet;
        std::string s = d.substr(0, static_cast<std::size_t>(n) + 28);
        if (WS_DecodePacket(s, packet) > 0) {
            d.erase(0, static_cast<std::size_t>(n) + 28);
            r.packets.push_back(std::move(packet));
            continue;
        }
        // A bad check: the length may be what is wrong (a raw "%41" in the data shrinks the packet
        // when it is decoded), so look for the next marker right after this one rather than
        // skipping the whole announced length.
        drop(d, 2);
    }
    return r;
}

} // namespace tollan
