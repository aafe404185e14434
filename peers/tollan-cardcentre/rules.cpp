#include "peers/tollan-cardcentre/rules.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace tollan::peer {
namespace {

bool ToInt(std::string_view s, std::int64_t& v)
{
    if (s.empty())
        return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool IsDigits(std::string_view s)
{
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

bool Rules_ParseLine(std::string_view text, Rule& rule, std::string& error)
{
    std::istringstream in{std::string(text)};
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    Behaviour& b = rule.behaviour;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const bool hasArg = i + 1 < words.size();
        std::int64_t n = 0;
        if (w == "*") {
        } else if (w.rfind("pan=", 0) == 0 && IsDigits(w.substr(4))) {
            rule.panPrefix = w.substr(4);
        } else if (w.rfind("amount=", 0) == 0 && ToInt(w.substr(7), n) && n >= 0) {
            rule.amount = n;
        } else if (w.rfind("type=", 0) == 0 && ToInt(w.substr(5), n) && (n == 100 || n == 400)) {
            rule.type = static_cast<int>(n);
        } else if (w == "approve") {
            b.verdict = Behaviour::Approve;
        } else if (w == "auth" && hasArg && words[i + 1].size() <= 6) {
            b.authCode = words[++i];
        } else if (w == "decline" && hasArg && Rules_ResponseCode(words[i + 1], b.code)) {
            b.verdict = Behaviour::Decline;
            ++i;
        } else if (w == "no-code") {
            b.noCode = true;
        } else if (w == "delay" && hasArg && ToInt(words[i + 1], n) && n >= 0 && n <= 3600000) {
            b.delayMs = static_cast<int>(n);
            ++i;
        } else if (w == "late" && hasArg && ToInt(words[i + 1], n) && n >= 0 && n <= 3600000) {
            b.lateMs = static_cast<int>(n);
            ++i;
        } else if (w == "hangup") {
            b.hangup = true;
        } else if (w == "trailing") {
            b.trailing = kTrailingCrLf;
        } else if (w == "trailing-junk") {
            b.trailing = kTrailingJunk;
        } else if (w == "silent") {
            b.verdict = Behaviour::Silent;
        } else if (w == "close") {
            b.verdict = Behaviour::Close;
        } else if (w == "repeat-only") {
            b.repeatOnly = true;
        } else if (w == "noise") {
            b.noise = true;
        } else if (w == "bad-check") {
            b.badCheck = true;
        } else {
            error = "unknown rule word or missing argument: " + w;
            return false;
        }
    }
    return true;
}

bool Rules_ResponseCode(std::string_view word, std::string& code)
{
    if (word.size() == 1 && IsDigits(word)) {
        code = std::string("0") + word[0];
        return true;
    }
    std::string bytes;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] != '%') {
            bytes += word[i];
            continue;
        }
        unsigned value = 0;
        const auto hex = word.substr(i + 1, 2);
        const auto r = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
        if (hex.size() != 2 || r.ec != std::errc() || r.ptr != hex.data() + 2)
            return false;
        bytes += static_cast<char>(value);
        i += 2;
    }
    if (bytes.size() != 2)
        return false;
    code = bytes;
    return true;
}

bool Rules_ParseFile(const std::string& path, std::vector<Rule>& rules, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the rule file " + path;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        Rule r;
        if (!Rules_ParseLine(line, r, error)) {
            error = path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
        rules.push_back(r);
    }
    return true;
}

Behaviour Rules_Choose(const std::vector<Rule>& rules, const Behaviour& fallback, std::string_view pan,
                       std::int64_t amount, int type, int& matched)
{
    matched = -1;
    for (const Rule& r : rules) {
        ++matched;
        if (!r.panPrefix.empty() && pan.substr(0, r.panPrefix.size()) != r.panPrefix)
            continue;
        if (r.amount >= 0 && r.amount != amount)
            continue;
        if (r.type >= 0 && r.type != type)
            continue;
        return r.behaviour;
    }
    matched = -1;
    return fallback;
}

} // namespace tollan::peer
