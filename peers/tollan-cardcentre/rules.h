#pragma once
// How the card centre answers an authorisation: the behaviour of the default rule and of the rule
// lines that match a request by card number prefix, amount or message type.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollan::peer {

struct Behaviour {
    enum Verdict { Approve, Decline, Silent, Close };
    Verdict verdict = Approve;
    std::string code = "05";         // element 39 of a decline: two characters, not only digits
    bool noCode = false;             // the answer leaves element 39 out
    std::string authCode = "123456"; // element 38 of an approval
    bool repeatOnly = false;         // the first request goes unanswered, the repeat is answered
    int delayMs = 0;
    int lateMs = 0;                  // the request answered this late, its repeat without the wait
    bool noise = false;              // bytes before the SOH
    bool badCheck = false;           // a wrong check character
    bool hangup = false;             // the line closed as soon as the answer is written
    std::string trailing;            // bytes written right after the frame, in the same write
};

struct Rule {
    std::string panPrefix;          // empty: any card
    std::int64_t amount = -1;       // element 4 (hundredths); -1: any
    int type = -1;                  // 100 or 400 (a repeat counts as its request); -1: any
    Behaviour behaviour;
};

// Applies the words of `text` ("pan=4111 decline 51", "delay 200 approve auth AB12CD", "repeat-only")
// to `rule`: match words hold "=", the others are behaviour words. False with `error` set when a
// word is not known or lacks its argument.
bool Rules_ParseLine(std::string_view text, Rule& rule, std::string& error);
// Reads a rule file: one rule a line, "#" starts a comment, blank lines skipped.
bool Rules_ParseFile(const std::string& path, std::vector<Rule>& rules, std::string& error);
// Element 39 of `word`: one digit is that number ("5" is "05"); else exactly two characters, where
// "%" and two hexadecimal digits stand for that byte ("%20%20" is two spaces). False otherwise.
bool Rules_ResponseCode(std::string_view word, std::string& code);
// The behaviour of the first rule that matches, else `fallback`; `matched` gets the rule's index,
// -1 when none matched.
Behaviour Rules_Choose(const std::vector<Rule>& rules, const Behaviour& fallback, std::string_view pan,
                       std::int64_t amount, int type, int& matched);
// What `trailing` and `trailing-junk` write after the frame.
inline constexpr std::string_view kTrailingCrLf{"\r\n"};
inline constexpr std::string_view kTrailingJunk{"\r\n\x7F~junk\xFF\x10"};

} // namespace tollan::peer
