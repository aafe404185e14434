#include "protocol/frame.h"

#include <algorithm>
#include <array>

namespace tollan {

namespace {

constexpr char ToChar(int x) { return static_cast<char>(x + 32); }
constexpr int UnChar(char c) { return static_cast<unsigned char>(c) - 32; }
constexpr int Code(char c) { return static_cast<unsigned char>(c); }

using CrcTable = std::array<std::uint16_t, 256>;

// kCrc[k][x]: the CRC register after byte x followed by k zero bytes, so four bytes go through
// four independent look-ups instead of a chain of four.
constexpr std::array<CrcTable, 4> MakeCrcTables()
{
    std::array<CrcTable, 4> t{};
    for (int n = 0; n < 256; ++n) {
        std::uint16_t crc = static_cast<std::uint16_t>(n << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        t[0][n] = crc;
    }
    for (int k = 1; k < 4; ++k)
        for (int n = 0; n < 256; ++n)
            t[k][n] = static_cast<std::uint16_t>((t[k - 1][n] << 8) ^ t[0][t[k - 1][n] >> 8]);
    return t;
}

constexpr std::array<CrcTable, 4> kCrc = MakeCrcTables();

} // namespace

std::optional<char> KK_CheckChar(std::string_view text)
{
    // The card centre keeps this sum in a signed 16-bit number; past 32 767 it has no defined value.
    int s = 0;
    for (char c : text) {
        s += Code(c);
        if (s > 32767)
            return std::nullopt;
    }
    s += (s & 0xC0) / 64;
    if (s > 32767)
        return std::nullopt;
    return ToChar(s & 63);
}

std::uint16_t KK_Crc16(std::string_view text, std::uint16_t crc)
{
    const std::size_t n = text.size();
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const unsigned b0 = Code(text[i]) ^ (crc >> 8);
        const unsigned b1 = Code(text[i + 1]) ^ (crc & 0xFF);
        crc = static_cast<std::uint16_t>(kCrc[3][b0] ^ kCrc[2][b1] ^ kCrc[1][Code(text[i + 2])] ^
                                         kCrc[0][Code(text[i + 3])]);
    }
    for (; i < n; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCrc[0][((crc >> 8) ^ Code(text[i])) & 0xFF]);
    return crc;
}

std::string KK_CrcCheck(std::string_view text)
{
    const unsigned crc = KK_Crc16(text);
    return {ToChar((crc >> 12) & 15), ToChar((crc >> 6) & 63), ToChar(crc & 63)};
}

namespace {

// Appends the escaped payload; writes through a pointer into room made once, at most three
// characters per code.
void EscapeInto(std::string& out, std::string_view payload)
{
    const std::size_t start = out.size();
    out.resize(start + payload.size() * 3);
    char* w = out.data() + start;
    for (char ch : payload) {
        int c = Code(ch);
        if (c >= 128) {
            *w++ = '&';
            c -= 128;
        }
        if (c < 32 || c == 127) {
            *w++ = '#';
            c ^= 64;
        } else if (c == '#' || c == '&' || c == '~') {
            *w++ = '#';
        }
        *w++ = static_cast<char>(c);
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

} // namespace

std::string KK_Escape(std::string_view payload)
{
    std::string out;
    out.reserve(payload.size() * 2);
    EscapeInto(out, payload);
    return out;
}

std::optional<std::string> KK_Unescape(std::string_view text)
{
    // Room for one code per character; only repeats need more.
    std::string out(text.size(), '\0');
    std::size_t o = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        char c = text[i];
        int count = 1;
        int high = 0;
        if (c == '~') {
            if (i + 2 >= n)
                return std::nullopt;
            count = UnChar(text[i + 1]);
            i += 2;
            c = text[i];
        }
        if (c == '&') {
            if (++i >= n)
                return std::nullopt;
            high = 128;
            c = text[i];
        }
        if (c == '#') {
            if (++i >= n)
                return std::nullopt;
            c = text[i];
            if (c != '#' && c != '&' && c != '~')
                c = static_cast<char>(Code(c) ^ 64);
        }
        c = static_cast<char>(Code(c) | high);
        if (count > 1) {
            out.resize(out.size() + static_cast<std::size_t>(count));
            std::fill_n(out.data() + o, count, c);
            o += static_cast<std::size_t>(count);
        } else {
            out[o++] = c;
        }
        ++i;
    }
    out.resize(o);
    return out;
}

std::string KK_Frame(std::string_view payload)
{
    std::string t;
    t.reserve(payload.size() * 3 + 6);
    t += KK_SOH;
    t += "  1";
    EscapeInto(t, payload);
    const std::size_t N = t.size() - 4 + 2; // check type digit, escaped payload, one check character
    if (N >= 95 * 95)
        return {};  // the two length characters cannot say it
    t[1] = ToChar(static_cast<int>(N / 95));
    t[2] = ToChar(static_cast<int>(N % 95));
    const auto check = KK_CheckChar(std::string_view(t).substr(1));
    if (!check)
        return {};
    t += *check;
    t += KK_CR;
    return t;
}

std::string KK_Unframe(std::string_view m)
{
    if (m.size() < 2 || m.front() != KK_SOH || m.back() != KK_CR)
        return {};
    std::string_view inner = m.substr(1, m.size() - 2);
    if (inner.size() < 3)
        return {};
    const int hi = UnChar(inner[0]);
    const int lo = UnChar(inner[1]);
    const int d = Code(inner[2]) - '0';
    if (hi * 95 + lo != static_cast<int>(inner.size()) - 2)
        return {};
    if (d == 1) {
        if (inner.size() < 4)
            return {};
        const auto check = KK_CheckChar(inner.substr(0, inner.size() - 1));
        if (!check || *check != inner.back())
            return {};
        inner.remove_suffix(1);
    } else if (d == 3) {
        if (inner.size() < 6)
            return {};
        if (KK_CrcCheck(inner.substr(0, inner.size() - 3)) != inner.substr(inner.size() - 3))
            return {};
        inner.remove_suffix(3);
    }
    auto payload = KK_Unescape(inner.substr(3));
    return payload ? std::move(*payload) : std::string();
}

std::vector<std::string> KK_UnframeAll(std::string_view data)
{
    std::vector<std::string> payloads;
    std::size_t at = data.find(KK_SOH);
    while (at != std::string_view::npos && data.size() - at >= 4) {
        const int hi = UnChar(data[at + 1]), lo = UnChar(data[at + 2]);
        // SOH, two length characters, the N characters they count, CR.
        const std::size_t size = hi >= 0 && lo >= 0 ? std::size_t(hi * 95 + lo) + 4 : 0;
        if (size > 0 && size <= data.size() - at) {
            std::string payload = KK_Unframe(data.substr(at, size));
            if (!payload.empty()) {
                payloads.push_back(std::move(payload));
                at = data.find(KK_SOH, at + size);
                continue;
            }
        }
        at = data.find(KK_SOH, at + 1);
    }
    return payloads;
}

std::string KK_FrameSimple(std::string_view text)
{
    const auto check = KK_CheckChar(text);
    if (!check)
        return {};
    std::string t;
    t.reserve(text.size() + 3);
    t += KK_SOH;
    t += text;
    t += *check;
    t += KK_CR;
    return t;
}

std::string KK_UnframeSimple(std::string_view m)
{
    if (m.size() < 3 || m.front() != KK_SOH || m.back() != KK_CR)
        return {};
    const std::string_view x = m.substr(1, m.size() - 3);
    const auto check = KK_CheckChar(x);
    if (!check || *check != m[m.size() - 2])
        return {};
    return std::string(x);
}

} // namespace tollan
