#include "support/codepage.h"

#include <QList>
#include <QString>

#include <array>

namespace tollan {
namespace {

// Unicode code points of the bytes 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t toUnicode(unsigned char b)
{
    if (b >= 0x80 && b <= 0x9F)
        return kHighControls[b - 0x80];
    return b;
}

int fromUnicode(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return int(cp);
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == cp)
            return int(0x80 + i);
    return '?';
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string Text_Cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes)
        appendUtf8(out, toUnicode(b));
    return out;
}

std::string Text_Utf8ToCp1252(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra <= 0 ? b : b & (0x3F >> extra);
        bool ok = extra >= 0 && i + size_t(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + size_t(k)]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        // An overlong form ("\xC0\x8D" for CR), a surrogate or a code beyond Unicode is no
        // character: a control character must not slip in through a long spelling.
        static constexpr char32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
        if (ok && extra > 0)
            ok = cp >= kShortest[extra] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += char(fromUnicode(cp));
        i += size_t(extra) + 1;
    }
    return out;
}

QString Text_ToQString(std::string_view bytes)
{
    QString out;
    out.reserve(qsizetype(bytes.size()));
    for (unsigned char b : bytes)
        out += QChar(char16_t(toUnicode(b)));
    return out;
}

std::string Text_FromQString(const QString& text)
{
    std::string out;
    out.reserve(size_t(text.size()));
    for (char32_t cp : text.toUcs4())
        out += char(fromUnicode(cp));
    return out;
}

} // namespace tollan
