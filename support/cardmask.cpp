#include "support/cardmask.h"

namespace tollan {
namespace {

constexpr std::size_t kShortestCardNumber = 13;
constexpr std::size_t kLongestCardNumber = 19;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

bool Card_IsMasked(std::string_view pan) { return pan.find('*') != std::string_view::npos; }

std::string Card_Mask(std::string_view pan)
{
    if (Card_IsMasked(pan) || pan.size() <= 4)
        return std::string(pan);
    const std::size_t n = pan.size();
    const std::size_t head = n > 10 ? 6 : 0;
    return std::string(pan.substr(0, head)) + std::string(n - head - 4, '*') + std::string(pan.substr(n - 4));
}

std::string Card_MaskText(std::string_view text)
{
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        if (!IsDigit(out[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < out.size() && IsDigit(out[end]))
            ++end;
        const std::size_t run = end - i;
        if (run >= kShortestCardNumber) {
            for (std::size_t k = i + 6; k + 4 < end; ++k)
                out[k] = '*';
            // Track-2 after the card number: the separator, then expiry, service code and
            // discretionary data, all hidden.
            if (run <= kLongestCardNumber && end < out.size() && (out[end] == '=' || out[end] == 'D')) {
                std::size_t k = end + 1;
                for (; k < out.size() && (IsDigit(out[k]) || out[k] == 'F'); ++k)
                    out[k] = '*';
                end = k;
            }
        }
        i = end;
    }
    return out;
}

int Card_Track2Digit(std::string_view track2)
{
    const std::size_t separator = track2.find_first_not_of("0123456789");
    if (separator == std::string_view::npos)
        return -1;
    const std::string_view rest = track2.substr(separator + 1);
    if (rest.size() < 13)
        return -1;
    const char c = rest[12];
    return IsDigit(c) ? c - '0' : 0;
}

} // namespace tollan
