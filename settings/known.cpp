#include "settings/known.h"

#include "support/codepage.h"
#include "support/config.h"
#include "support/registry.h"
#include "support/text.h"

#include <QByteArray>
#include <QDate>
#include <QFileInfo>
#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace tollan {

namespace {

using S = SettingForm;

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A whole number, sign allowed, as text: "6o", "", "1.5" are none.
bool WholeNumber(std::string_view s, long& n)
{
    const std::string t = Str_Trim(s);
    const std::string_view digits = !t.empty() && (t[0] == '-' || t[0] == '+') ? std::string_view(t).substr(1) : t;
    if (!AllDigits(digits) || digits.size() > 9) return false;
    n = std::stol(t);
    return true;
}

SettingProblem Why(std::string_view key, std::string_view value, std::string english, std::string estonian)
{
    return {std::string(key), std::string(value), std::move(english), std::move(estonian)};
}

// "host:port" with a port 1 to 65535; an IPv6 host in brackets.
bool HostPort(std::string_view text, std::string& why)
{
    const std::string t = Str_Trim(text);
    const std::size_t colon = t.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        why = "host:port";
        return false;
    }
    long port = 0;
    if (!WholeNumber(t.substr(colon + 1), port) || port < 1 || port > 65535) {
        why = "port";
        return false;
    }
    const std::string host = t.substr(0, colon);
    const bool bracketed = host.front() == '[' && host.back() == ']';
    if (!bracketed && host.find(':') != std::string::npos) {
        why = "host:port";
        return false;
    }
    if (host.find_first_of(" \t;,/") != std::string::npos) {
        why = "host";
        return false;
    }
    return true;
}

// The entries of an address list that are no address or network, separated by spaces.
std::string UnreadableNetworks(std::string_view rules)
{
    std::string bad;
    for (const std::string& raw : Str_Split(rules, ";")) {
        const std::string entry = Str_Trim(raw);
        if (entry.empty()) continue;
        const QString text = QString::fromStdString(entry);
        bool ok;
        if (text.contains('/')) {
            const auto net = QHostAddress::parseSubnet(text);
            ok = !net.first.isNull() && net.second >= 0;
        } else {
            ok = !QHostAddress(text).isNull();
        }
        if (!ok) bad += (bad.empty() ? "" : " ") + entry;
    }
    return bad;
}

bool SendMask(std::string_view mask)
{
    const std::vector<std::string> fields = Str_Split(mask, " ");
    if (fields.size() != 5 && fields.size() != 6) return false;
    static constexpr int kLow[] = {0, 1, 1, 0, 0, 1}, kHigh[] = {9999, 12, 31, 23, 59, 7};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == "*") continue;
        if (!AllDigits(fields[i]) || fields[i].size() > 4) return false;
        const int v = std::stoi(fields[i]);
        if (v < kLow[i] || v > kHigh[i]) return false;
    }
    return true;
}

bool LineSettings(std::string_view line)
{
    const std::vector<std::string> p = Str_Split(line, ",");
    if (p.size() != 4) return false;
    static const std::vector<std::string> speeds = {"110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                                    "19200", "38400", "57600", "115200"};
    const std::string parity = Lower(Str_Trim(p[1])), data = Str_Trim(p[2]), stop = Str_Trim(p[3]);
    return std::find(speeds.begin(), speeds.end(), Str_Trim(p[0])) != speeds.end() && parity.size() == 1 &&
           std::string_view("neoms").find(parity) != std::string_view::npos && data.size() == 1 && data[0] >= '5' &&
           data[0] <= '8' && (stop == "1" || stop == "1.5" || stop == "2");
}

// A name as the store keeps it: any case, and "\\", "/" and "." alike between the section and the
// value's name ("fMain.Left" is Left in the section fMain).
std::string Normal(std::string_view name)
{
    std::string n = Lower(name);
    std::replace(n.begin(), n.end(), '/', '\\');
    std::replace(n.begin(), n.end(), '.', '\\');
    return n;
}

// A name of the table against a key: "<n>" stands for a number, "<prefix>" for any name.
bool NameMatches(std::string_view pattern, std::string_view key)
{
    const std::string p = Normal(pattern), k = Normal(key);
    for (const char* hole : {"<n>", "<prefix>"}) {
        const std::size_t at = p.find(hole);
        if (at == std::string::npos) continue;
        if (k.size() <= at || k.compare(0, at, p, 0, at) != 0) return false;
        const std::string rest = k.substr(at);
        return std::string_view(hole) == "<n>" ? AllDigits(rest) : rest.find('\\') == std::string::npos;
    }
    return p == k;
}

// How far apart two names are, in letters changed, added or taken away.
std::size_t Distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string Quoted(std::string_view value) { return "\"" + std::string(value) + "\""; }

} // namespace

const KnownSetting* Settings_Find(std::string_view key)
{
    for (const KnownSetting& row : Settings_Known())
        if (NameMatches(row.name, key)) return &row;
    // A register's own: POS<nnn>\Tegevusala.
    const std::size_t slash = key.find('\\');
    if (slash != std::string_view::npos && Lower(key.substr(0, 3)) == "pos") {
        const std::string_view rest = key.substr(slash + 1);
        for (const KnownSetting& row : Settings_Known())
            if (row.perRegister && NameMatches(row.name, rest)) return &row;
    }
    return nullptr;
}

std::string Settings_Near(std::string_view key)
{
    std::string best;
    std::size_t bestDistance = 3;  // two letters off at most: further is another word
    for (const KnownSetting& row : Settings_Known()) {
        if (std::string_view(row.name).find('<') != std::string_view::npos) continue;
        const std::size_t d = Distance(Normal(key), Normal(row.name));
        if (d < bestDistance) {
            bestDistance = d;
            best = row.name;
        }
    }
    return best;
}

std::string Settings_FormText(const KnownSetting& row)
{
    switch (row.form) {
    case S::Text: return "text";
    case S::Number: return "a whole number " + std::to_string(row.low) + " to " + std::to_string(row.high);
    case S::Flag: return "a whole number: 0 off, else on";
    case S::Digits: return std::to_string(row.low) + " digits";
    case S::Address: return "host:port";
    case S::Ip: return "an IPv4 or IPv6 address";
    case S::Networks: return "addresses and networks separated by ;";
    case S::Mask: return "a time mask";
    case S::File: return "a readable file";
    case S::Pins: return "pins separated by ;";
    case S::CommPort: return "a port number or a device path";
    case S::Line: return "speed,parity,data bits,stop bits";
    case S::Choice: return "one of " + Str_Replace(row.choices, "|", ", ");
    case S::Date: return "a date yyyymmdd";
    case S::Hex: return "a hexadecimal number";
    }
    return {};
}

SettingProblem Settings_Problem(const KnownSetting& row, std::string_view key, std::string_view value)
{
    const std::string v = Str_Trim(value);
    // An empty value is the setting's "none" wherever its default is empty; elsewhere the reader
    // would take it as 0, which is no value of a number's range either.
    if (v.empty() && (row.def[0] == '\0' || row.form == S::Text)) return {};
    long n = 0;
    switch (row.form) {
    case S::Text: return {};
    case S::Number:
        if (!WholeNumber(v, n))
            return Why(key, value, "not a whole number", "ei ole täisarv");
        if (n < row.low || n > row.high)
            return Why(key, value, "outside " + std::to_string(row.low) + " to " + std::to_string(row.high),
                       "ei ole vahemikus " + std::to_string(row.low) + "–" + std::to_string(row.high));
        return {};
    case S::Flag:
        if (!WholeNumber(v, n)) return Why(key, value, "not a whole number (0 off, else on)", "ei ole täisarv (0 väljas, muu sees)");
        return {};
    case S::Digits:
        if (!AllDigits(v) || long(v.size()) != row.low)
            return Why(key, value, "not " + std::to_string(row.low) + " digits",
                       "ei ole " + std::to_string(row.low) + " numbrit");
        return {};
    case S::Address: {
        std::string which;
        if (HostPort(v, which))
            return {};
        if (which == "port")
            return Why(key, value, "the port is not 1 to 65535", "port ei ole vahemikus 1–65535");
        return Why(key, value, "not of the form host:port", "ei ole kujul host:port");
    }
    case S::Ip:
        if (QHostAddress(QString::fromStdString(v)).isNull()) return Why(key, value, "not an IP address", "ei ole IP-aadress");
        return {};
    case S::Networks:
        if (const std::string bad = UnreadableNetworks(v); !bad.empty())
            return Why(key, value, "no address or network, so it lets nobody in: " + bad,
                       "kirjed, mis ei ole aadress ega võrk, ei lase kedagi sisse: " + bad);
        return {};
    case S::Mask:
        if (!SendMask(v))
            return Why(key, value, "not a time mask (year month day hour minute [day of week], each a number or *)",
                       "ei ole saatmisaeg (aasta kuu päev tund minut [nädalapäev], igaüks arv või *)");
        return {};
    case S::File: {
        const QFileInfo f(QString::fromStdString(v));
        if (!f.exists()) return Why(key, value, "no such file", "faili ei ole");
        if (!f.isFile() || !std::ifstream(v).good()) return Why(key, value, "the file cannot be read", "faili ei saa lugeda");
        return {};
    }
    case S::Pins:
        for (const std::string& raw : Str_Split(v, ";")) {
            const std::string entry = Str_Trim(raw);
            if (entry.empty()) continue;
            const auto d = QByteArray::fromBase64Encoding(QByteArray::fromStdString(entry), QByteArray::AbortOnBase64DecodingErrors);
            if (!d || d.decoded.size() != 32)
                return Why(key, value, "\"" + entry + "\" is no pin (base64 of a SHA-256)",
                           "\"" + entry + "\" ei ole võtme SHA-256 (base64)");
        }
        return {};
    case S::CommPort:
        if (v.empty() || AllDigits(v) ? (v.empty() || v.size() > 3 || std::stol(v) < 1 || std::stol(v) > 255) : v.front() != '/')
            return Why(key, value, "neither a port number 1 to 255 nor a device path", "ei ole pordi number 1–255 ega seadme tee");
        return {};
    case S::Line:
        if (!LineSettings(v))
            return Why(key, value, "not speed,parity,data bits,stop bits (9600,n,8,1)",
                       "ei ole kujul kiirus,paarsus,andmebitid,stoppbitid (9600,n,8,1)");
        return {};
    case S::Choice:
        for (const std::string& word : Str_Split(row.choices, "|"))
            if (Lower(v) == word) return {};
        return Why(key, value, "not one of " + Str_Replace(row.choices, "|", ", "),
                   "ei ole üks neist: " + Str_Replace(row.choices, "|", ", "));
    case S::Date:
        if (!AllDigits(v) || v.size() > 8 ||
            !QDate::fromString(QString::fromStdString(std::string(8 - v.size(), '0') + v), QStringLiteral("yyyyMMdd")).isValid())
            return Why(key, value, "not a date yyyymmdd", "ei ole kuupäev kujul aaaakkpp");
        return {};
    case S::Hex:
        if (v.empty() || v.size() > 8 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return Why(key, value, "not a hexadecimal number", "ei ole kuueteistkümnendarv");
        return {};
    }
    return {};
}

std::vector<SettingProblem> Settings_Check()
{
    std::vector<SettingProblem> problems;
    const std::string root(kCfgRoot);
    // Every value the file holds, as the terminal would read it.
    for (const RegEntry& e : Reg_List()) {
        std::string key;
        if (Text_Equal(e.subkey, root))
            key = e.name;
        else if (e.subkey.size() > root.size() && Text_Equal(e.subkey.substr(0, root.size()), root) && e.subkey[root.size()] == '\\')
            key = e.subkey.substr(root.size() + 1) + "\\" + e.name;
        else
            continue;
        key = Text_Cp1252ToUtf8(key);
        const std::string value = Text_Cp1252ToUtf8(e.value);
        const KnownSetting* row = Settings_Find(key);
        if (!row) {
            const std::string near = Settings_Near(key);
            problems.push_back(Why(key, value, "no such setting; the terminal does not read it" + (near.empty() ? "" : " (" + near + "?)"),
                                   "sellist seadet ei ole; terminal ei loe seda" + (near.empty() ? "" : " (" + near + "?)")));
        } else if (SettingProblem p = Settings_Problem(*row, key, value)) {
            problems.push_back(std::move(p));
        }
    }
    // The card centre's addresses of the link in use: without them every purchase falls to the
    // telephone.
    const bool x25 = Num_Value(Cfg_Lookup("UseX25", "0")) != 0;
    static constexpr const char* kTcp[] = {"Tollan_Auth_Address", "Tollan_Trans_Address"};
    static constexpr const char* kX25[] = {"X25\\Auth_Address", "X25\\Trans_Address"};
    for (const char* key : x25 ? kX25 : kTcp)
        if (Str_Trim(Cfg_Lookup(key, "")).empty())
            problems.push_back(Why(key, "", x25 ? "missing: the card centre cannot be reached over X.25"
                                                : "missing: the card centre cannot be reached over TCP",
                                   "puudub: kaardikeskusega ei saa ühendust"));
    return problems;
}

std::string Settings_Line(const SettingProblem& p, bool estonian)
{
    const std::string value = p.value.empty() ? "" : " " + Quoted(p.value);
    return (estonian ? "Seade " : "") + p.key + value + ": " + (estonian ? p.estonian : p.english);
}

namespace {

std::string Default(const KnownSetting& row)
{
    if (row.shownDef) return row.shownDef;
    return row.def[0] ? "`" + std::string(row.def) + "`" : "(empty)";
}

std::string Name(const KnownSetting& row)
{
    return row.perRegister ? "`" + std::string(row.name) + "` (also `POS<nnn>\\" + row.name + "`)" : "`" + std::string(row.name) + "`";
}

// roff: a backslash is \e, a hyphen \-; the guide's backticks go.
std::string Roff(std::string_view text)
{
    std::string s = Str_Replace(Str_Replace(Str_Replace(text, "\\", "\\e"), "-", "\\-"), "`", "");
    if (!s.empty() && (s[0] == '.' || s[0] == '\'')) s = "\\&" + s;
    return s;
}

} // namespace

std::string Settings_Markdown()
{
    std::string out = "| Setting | Form | Default | Read | Meaning |\n|---|---|---|---|---|\n";
    for (const KnownSetting& row : Settings_Known())
        out += "| " + Name(row) + " | " + Str_Replace(Settings_FormText(row), "|", "\\|") + " | " + Default(row) + " | " +
               row.read + " | " + Str_Replace(row.meaning, "|", "\\|") + " |\n";
    return out;
}

std::string Settings_Roff()
{
    std::string out = ".SH SETTINGS\nThe settings in\n.IR registry.ini ,\nas\n.B tollan config set\nnames them, with their form, "
                      "default and when the terminal reads them.\n";
    for (const KnownSetting& row : Settings_Known()) {
        out += ".TP\n.B " + Roff(row.name) + "\n" + Roff(Settings_FormText(row)) + "; default " + Roff(Default(row)) +
               "; read " + Roff(row.read) + ".\n.br\n" + Roff(row.meaning) + (row.perRegister ? " (also per register: POS<nnn>\\e" + Roff(row.name) + ")" : "") + "\n";
    }
    return out;
}

} // namespace tollan
