#pragma once
// The known settings: one table of every setting the terminal reads, with its form, its default
// and when it is read. `tollan config set`, the settings dialog and the start-up check refuse a
// value by the same rule; the README's table and the manual page's SETTINGS section are printed
// from it, so the guide cannot say other than the program does.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

enum class SettingForm {
    Text,      // anything
    Number,    // a whole number from `low` to `high`
    Flag,      // a whole number: 0 off, anything else on
    Digits,    // exactly `low` digits
    Address,   // host:port, the port 1 to 65535
    Ip,        // an IPv4 or IPv6 address
    Networks,  // addresses and networks (CIDR) separated by ";"
    Mask,      // a send time: year month day hour minute [day of week], each a number or "*"
    File,      // a path to a file the terminal can read
    Pins,      // base64 of 32 bytes each, separated by ";"
    CommPort,  // a port number 1 to 255 or a device path
    Line,      // speed,parity,data bits,stop bits
    Choice,    // one of the words of `choices`
    Date,      // yyyymmdd
    Hex,       // a hexadecimal number
};

struct KnownSetting {
    const char* name;      // as written in registry.ini below the root; "<n>", "<prefix>": a family
    SettingForm form;
    long low, high;        // Number: its range; Digits: the count in `low`
    const char* choices;   // Choice: the words, separated by "|"
    const char* def;       // what its reader uses while it is absent (Windows-1252 free: ASCII)
    const char* shownDef;  // the default as the guide says it, when `def` alone does not say it
    const char* read;      // when the terminal reads it
    const char* meaning;   // UTF-8
    bool perRegister;      // also looked up as POS<nnn>\name first
};

std::span<const KnownSetting> Settings_Known();
// The row of a key in any case, numbered and per-register names included
// ("sendtranstime3", "POS001\Tegevusala", "SenderID\400000"); nullptr for an unknown name.
const KnownSetting* Settings_Find(std::string_view key);
// A known name near a misspelt one ("Prot": "Port"), or empty.
std::string Settings_Near(std::string_view key);

// Why a value cannot be used, in English (the command line, stderr) and Estonian (the window,
// tollan.err); both empty when it can.
struct SettingProblem {
    std::string key;      // as the administrator wrote it
    std::string value;    // UTF-8
    std::string english;  // UTF-8
    std::string estonian; // UTF-8
    explicit operator bool() const { return !english.empty(); }
};
// The value (UTF-8) against the row's form: the same rule wherever a value is set.
SettingProblem Settings_Problem(const KnownSetting& row, std::string_view key, std::string_view value);
// Every setting of the store in force as the terminal would read it: each stored value against
// its form, unknown names, and the card centre's addresses of the link in use present.
std::vector<SettingProblem> Settings_Check();
// The one-line summary a problem is reported with: `Port "abc": not a whole number`.
std::string Settings_Line(const SettingProblem& p, bool estonian);

// The guide's table (Markdown, between the README's settings markers) and the manual page's
// section (roff), both from the one table.
std::string Settings_Markdown();
std::string Settings_Roff();
// The form as the guide says it ("a whole number 1 to 65535").
std::string Settings_FormText(const KnownSetting& row);

} // namespace tollan
