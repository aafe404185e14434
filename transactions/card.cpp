#include "transactions/card.h"

#include "support/config.h"

#include <algorithm>
#include <string>
#include <tuple>

namespace tollan {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of leading digits: the card number runs up to the first character that is no digit.
std::size_t LeadingDigits(std::string_view si)
{
    return static_cast<std::size_t>(std::find_if_not(si.begin(), si.end(), IsDigit) - si.begin());
}

// Characters `from` (1-based) for `count`, as far as the text reaches.
std::string_view Field(std::string_view text, std::size_t from, std::size_t count)
{
    if (from - 1 >= text.size())
        return {};
    return text.substr(from - 1, count);
}

// The four-digit year of a card's two-digit expiry year: the one within 50 years of `nowYear`.
// Cards issued today run into the 2030s, which a fixed 1930-1999 reading would refuse as expired.
int ExpiryYear(int yy, int nowYear)
{
    int year = nowYear - ((nowYear % 100) - yy);
    if (year < nowYear - 50)
        year += 100;
    else if (year > nowYear + 49)
        year -= 100;
    return year;
}

} // namespace

std::int16_t Kaart_GetRealNumber(std::string_view si, std::string& so)
{
    const std::size_t digits = LeadingDigits(si);
    // Element 2 holds at most 19 digits; a longer number would reach the card centre cut short,
    // as another card's number.
    if (digits == 0 || digits > static_cast<std::size_t>(kCardMaxDigits)) {
        so = kCardBadForm;
        return 0;
    }
    const std::string_view number = si.substr(0, digits);
    if (number.back() - '0' == Kaart_ControlSum(number.substr(0, digits - 1))) {
        so = number;
        return -1;
    }
    so = kCardBadCheckDigit;
    return 0;
}

std::int16_t Kaart_ControlSum(std::string_view si)
{
    int sum = 0;
    bool doubled = true;   // the rightmost digit is doubled
    for (auto it = si.rbegin(); it != si.rend(); ++it, doubled = !doubled) {
        if (!IsDigit(*it))
            return -1;
        const int p = (*it - '0') * (doubled ? 2 : 1);
        sum = (sum + p / 10 + p % 10) % 10;
    }
    return static_cast<std::int16_t>((10 - sum) % 10);
}

std::int16_t Kaart_GetDate(std::string_view si)
{
    const std::size_t k = LeadingDigits(si) + 1;   // the separator's position
    if (k >= si.size())
        return 0;
    int v = 0;
    for (char c : si.substr(k, 4)) {
        if (!IsDigit(c))
            break;
        v = v * 10 + (c - '0');
    }
    return static_cast<std::int16_t>(v);
}

CardDataField CardData_Read(std::string_view field)
{
    CardDataField c;
    std::string_view track = Field(field, 1, 40);
    while (!track.empty() && track.back() == ' ')
        track.remove_suffix(1);
    c.track2 = track;
    c.readFromCard = Num_Value(Field(field, 41, 1)) == 0;
    c.expiry = Field(field, 42, 4);
    // Four characters can still read as "9e99": held within what four digits can say.
    c.expDate = static_cast<std::int16_t>(std::clamp(Num_Value(c.expiry), -999.0, 9999.0));
    return c;
}

std::string CardData_FromCardText(std::string_view cardText)
{
    std::string s(cardText.substr(0, kCardDataSize));
    if (s.size() < 45)
        s.resize(45, ' ');
    s[40] = '0';
    s.replace(41, 4, Str_Pad(std::to_string(Kaart_GetDate(cardText)), '0', 4, 1));
    s.resize(kCardDataSize, ' ');
    return s;
}

bool Card_KeyedInAllowed(std::int16_t posCode)
{
    if (posCode & kPosReadFromCard)
        return true;
    return Num_Value(Cfg_Get("AllowManualPAN", "-1")) != 0;
}

bool Card_Expired(std::int16_t expDate, const DateTime& now)
{
    const int yy = expDate / 100;
    const int mm = expDate % 100;
    if (expDate <= 0 || expDate > 9999 || mm < 1 || mm > 12)
        return true;
    // Valid through the whole expiry month: the card expires at the start of the next one.
    const DateTime end = Date_FromNumber(ExpiryYear(yy, now.year) * 10000 + (mm + 1) * 100 + 1);
    return std::tie(now.year, now.month, now.day, now.hour, now.minute, now.second) >
           std::tie(end.year, end.month, end.day, end.hour, end.minute, end.second);
}

bool Card_PresentAnswerMatches(std::string_view answer, std::string_view pan, std::string_view cardDataField)
{
    // The cashier reads four characters off the card; a shorter text could match a cut field.
    if (answer.size() != 4)
        return false;
    return (pan.size() >= 4 && answer == pan.substr(pan.size() - 4)) || answer == Field(cardDataField, 42, 4);
}

} // namespace tollan
