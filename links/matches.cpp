#include "links/matches.h"


namespace tollan {
namespace {

// Matches one bracket list at `p` (just after "[") against `c`; sets `end` past the closing "]".
// A list without its "]" stands for the "[" itself, so a stray bracket in a pattern is a plain character.
bool listMatches(std::string_view pat, std::size_t p, unsigned char c, std::size_t& end, bool& isList)
{
    std::size_t close = pat.find(']', p + (p < pat.size() && pat[p] == '!' ? 2 : 1));
    if (close == std::string_view::npos) {
        isList = false;
        end = p;
        return c == '[';
    }
    isList = true;
    end = close + 1;
    bool negate = pat[p] == '!';
    std::size_t i = negate ? p + 1 : p;
    bool found = false;
    while (i < close) {
        unsigned char lo = static_cast<unsigned char>(pat[i]);
        if (i + 2 < close && pat[i + 1] == '-') {
            unsigned char hi = static_cast<unsigned char>(pat[i + 2]);
            if (lo <= c && c <= hi)
                found = true;
            i += 3;
        } else {
            if (lo == c)
                found = true;
            ++i;
        }
    }
    return found != negate;
}

// One pattern item against one character: the width of the item in the pattern, or 0 when it fails.
std::size_t itemMatches(std::string_view pat, std::size_t p, unsigned char c)
{
    switch (pat[p]) {
    case '?':
        return 1;
    case '#':
        return (c >= '0' && c <= '9') ? 1 : 0;
    case '[': {
        std::size_t end;
        bool isList;
        bool ok = listMatches(pat, p + 1, c, end, isList);
        if (!isList)
            return ok ? 1 : 0;
        return ok ? end - p : 0;
    }
    default:
        return static_cast<unsigned char>(pat[p]) == c ? 1 : 0;
    }
}

} // namespace

bool Link_Matches(std::string_view pattern, std::string_view data)
{
    if (pattern.empty())
        return !data.empty();
    // "*pattern*" by the greedy walk that keeps one back-track point, the last star: never
    // recursive, so a long answer or a pattern of many stars cannot blow up. The walk starts as
    // if just past the leading star.
    std::size_t d = 0, p = 0;
    std::size_t starP = 0, starD = 0;
    for (;;) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starD = d;
            continue;
        }
        if (p == pattern.size())
            return true;  // the trailing star takes the rest
        if (d < data.size()) {
            std::size_t w = itemMatches(pattern, p, static_cast<unsigned char>(data[d]));
            if (w) {
                p += w;
                ++d;
                continue;
            }
        }
        if (starD >= data.size())
            return false;
        p = starP;
        d = ++starD;
    }
}

} // namespace tollan
