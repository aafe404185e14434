#include "support/text.h"

#include "tests/support/suite.h"

namespace {
// The Estonian forms: day.month.year, "," as the decimal point, a blank between thousands.
struct EstonianForms {
    EstonianForms() { saved = Text_Forms(); Text_Forms() = {"dd.mm.yyyy", "hh:nn:ss", ',', ' '}; }
    ~EstonianForms() { Text_Forms() = saved; }
    TextForms saved;
};
} // namespace

TEST(DateNumbers, DatesAndTimesBecomeCompactNumbersAndBackAndShortDatesAreReadInTheLocaleOrder)
{
    const DateTime d{1999, 12, 5, 14, 30, 59};
    EXPECT_EQ(Date_Number(d), 19991205);
    EXPECT_EQ(Time_Number(d), 143059);
    EXPECT_EQ(Date_Number(DateTime{}), 0);
    EXPECT_EQ(Date_Number("no date"), 0);
    EXPECT_EQ(Time_Number("25:00"), 0);
    EXPECT_EQ(Date_Number("1999-12-05 14:30:59"), 19991205);
    EXPECT_EQ(Time_Number("1999-12-05 14:30:59"), 143059);

    EXPECT_EQ(Date_FromNumber(19991205), (DateTime{1999, 12, 5}));
    EXPECT_EQ(Date_FromNumber(991201), (DateTime{1999, 12, 1}));
    EXPECT_EQ(Date_FromNumber(291201), (DateTime{2029, 12, 1}));
    // Months and days beyond their range carry forward; day 0 is the last day of the month before.
    EXPECT_EQ(Date_FromNumber(20261301), (DateTime{2027, 1, 1}));
    EXPECT_EQ(Date_FromNumber(20260230), (DateTime{2026, 3, 2}));
    EXPECT_EQ(Date_FromNumber(20260300), (DateTime{2026, 2, 28}));
    // Numbers that are no date at all give no date rather than a crash.
    EXPECT_EQ(Date_Number(Date_FromNumber(2147483647)), 0);
    EXPECT_EQ(Date_Number(Date_FromNumber(-2147483647 - 1)), 0);
    EXPECT_NE(Date_Number(Date_FromNumber(0)), 0);

    const DateTime t = Time_FromNumber(143059);
    EXPECT_EQ(Time_Number(t), 143059);
    EXPECT_EQ(Date_Long(DateTime{1999, 12, 5}), "05. detsember 1999");
    EXPECT_EQ(Date_Long(DateTime{2026, 3, 1}), "01. m\xE4rts 2026");
    EXPECT_EQ(Date_Long("tomorrow"), "");
    // Short dates are read in the locale's order.
    EstonianForms et;
    EXPECT_EQ(Date_Number("05.12.1999"), 19991205);
    EXPECT_EQ(Date_Number("5.12.99"), 19991205);
    Text_Forms().shortDate = "m/d/yy";
    EXPECT_EQ(Date_Number("12/5/99"), 19991205);
    EXPECT_EQ(Date_Number("31/12/99"), 0);
}

TEST(Numbers, TheDotIsTheDecimalPointWhateverTheLocaleAndPicturesFollowTheLocale)
{
    struct Case { const char* text; double value; } cases[] = {
        {"12.50", 12.5}, {"-12.5", -12.5}, {".5", 0.5}, {"-0.5", -0.5}, {"12abc", 12}, {"abc", 0},
        {"", 0}, {"1,5", 1}, {"  42 ", 42}, {"000580", 580},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(Num_Value(c.text), c.value) << c.text;
    EstonianForms et;
    EXPECT_DOUBLE_EQ(Num_Value("12.50"), 12.5);
    EXPECT_DOUBLE_EQ(Num_Value("1,5"), 1.5);  // the locale's own numeric form
    EXPECT_EQ(Num_Text("12.50"), "12,5");
    EXPECT_EQ(Num_Text(" 7 "), "7");

    // Pictures of dates, times and numbers, in the same forms.
    const DateTime d{2026, 3, 7, 9, 5, 2};
    EXPECT_EQ(Fmt_DateTime(d, "dd.mm.yyyy"), "07.03.2026");
    EXPECT_EQ(Fmt_DateTime(d, "d.m.yy h:n:s"), "7.3.26 9:5:2");
    EXPECT_EQ(Fmt_DateTime(d, "mm/yy"), "03/26");
    EXPECT_EQ(Fmt_DateTime(d, "hh:nn:ss"), "09:05:02");
    EXPECT_EQ(Fmt_DateTime(d, "short date"), "07.03.2026");
    EXPECT_EQ(Fmt_DateTime(d, "Short Time"), "09:05:02");

    const struct { double value; const char* picture; const char* out; } numbers[] = {
        {12.345, "0.00", "12,35"}, {1234567.5, "#,##0.00", "1 234 567,50"}, {0.5, "#.##", ",5"}, {5, "0.##", "5,"},
        {-3, "0000", "-0003"}, {-0.001, "0.00", "0,00"}, {7, "EUR 0", "EUR 7"}};
    for (const auto& c : numbers) EXPECT_EQ(Fmt_Number(c.value, c.picture), c.out) << c.value << " " << c.picture;
    EXPECT_EQ(Fmt_Number(1e300, "0.00").size(), 304u);  // huge but finite: digits, no crash

    EXPECT_EQ(Fmt_Text("12.5", "0.00"), "12,50");
    EXPECT_EQ(Fmt_Text("2026-03-07", "mm/yy"), "03/26");
    EXPECT_EQ(Fmt_Text("abc", "0.00"), "abc");
}

TEST(Texts, AlignPadSplitCompare)
{
    // 1 left, 2 right, 3 centred; of an odd cut the extra character goes on the right.
    const struct { const char* text; int width, align; const char* out; } aligned[] = {
        {"12345", 3, 1, "123"}, {"12345", 3, 2, "345"}, {"12345", 3, 3, "234"}, {"123456", 3, 3, "234"},
        {"ab", 5, 3, " ab  "}, {"ab", 4, 2, "  ab"}, {"ab", -4, 2, ""}};
    for (const auto& c : aligned) EXPECT_EQ(Str_Align(c.text, c.width, c.align), c.out) << c.text << " " << c.width << "/" << c.align;
    EXPECT_EQ(Str_Pad("7", '0', 8, 1), "00000007");
    EXPECT_EQ(Str_Pad("123456789", '0', 8, 1), "123456789");
    EXPECT_EQ(Str_Pad("7", ' ', 3, 2), "7  ");

    EXPECT_EQ(Str_Split("a;;b", ";"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Str_Split("a;", ";"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(Str_Split("", ";").empty());
    EXPECT_EQ(Str_Replace("a--b--", "--", "+"), "a+b+");

    EXPECT_TRUE(Text_Equal("  errorShow ", "ERRORSHOW"));
    EXPECT_TRUE(Text_Equal("\xF5un", "\xD5UN"));  // õ and Õ
    EXPECT_FALSE(Text_Equal("ab", "abc"));

    EXPECT_EQ(Num_Hex(std::int16_t{-1}), "FFFF");
    EXPECT_EQ(Num_Hex(std::int32_t{-1}), "FFFFFFFF");
    EXPECT_EQ(Num_Hex(std::int32_t{0}), "0");
    EXPECT_EQ(Num_Hex(std::int32_t{2748}), "ABC");
}

TEST(ParameterLists, GetAndSetAndTheLookupFindsWhatASearchOfTheWholeListFinds)
{
    EXPECT_EQ(Param_Get("A=1;BB=2", ""), "A=1;BB=2");   // names and values otherwise: the search below
    EXPECT_EQ(Param_GetOr("A=;", "A", "z"), "z");

    std::string list = "A=1;B=2";
    Param_Set(list, "a", "9");
    EXPECT_EQ(list, "a=9;B=2");
    list = "A=1";
    Param_Set(list, "C", "3");
    EXPECT_EQ(list, "A=1;C=3;");
    list = "A=1;B=2";
    Param_Set(list, "B", "xyz");
    EXPECT_EQ(list, "A=1;B=xyz");
    list.clear();
    Param_Set(list, "Type", "3");
    Param_Set(list, "Param", "\"-2147483646\"");
    EXPECT_EQ(list, "Type=3;Param=\"-2147483646\";");
    EXPECT_EQ(Param_Get(list, "param"), "\"-2147483646\"");

    // The lookup tries only the starts of entries; it must find what a search for ";NAME=" anywhere
    // in ";" + list finds, for names and values holding ";" and "=" too.
    auto naive = [](std::string_view list, std::string_view name) {
        const std::string hay = ";" + Str_Upper(list), need = ";" + Str_Upper(name) + "=";
        const std::size_t at = hay.find(need);
        const int p = at == std::string::npos ? int(hay.size()) + 1 : int(at) + 1;
        const int q = Str_FindOrEnd(p + 1, list, ";");
        return Str_Between(list, int(name.size()) + p, q);
    };
    const char alphabet[] = "aAb;=";
    std::uint32_t seed = 12345;
    auto next = [&](int n) { seed = seed * 1103515245u + 12345u; return int((seed >> 16) % std::uint32_t(n)); };
    for (int round = 0; round < 20000; ++round) {
        std::string list, name;
        for (int i = next(13); i > 0; --i) list += alphabet[next(5)];
        for (int i = next(4); i > 0; --i) name += alphabet[next(5)];
        ASSERT_EQ(Param_Get(list, name.empty() ? "a" : name), naive(list, name.empty() ? "a" : name))
            << "list \"" << list << "\" name \"" << name << "\"";
    }
}

TEST(Escapes, PercentCodesAndLiterals)
{
    // A "%" at the end is dropped; a lone "%" is dropped and what follows stays.
    const std::pair<const char*, const char*> cases[] = {
        {"%0D%0A", "\r\n"}, {"Kassa%3A", "Kassa:"}, {"%25", "%"}, {"%%%:%;%+%{%}%<%>%]", "%:;+{}<>]"}, {"100%", "100"},
        {"%zz", "zz"}, {"%4", "4"}, {"%e4", "\xE4"}, {"plain", "plain"},
    };
    for (const auto& [text, decoded] : cases) EXPECT_EQ(Tpl_Decode(text), decoded) << text;
    // Control and unsafe characters are percent-encoded, and every byte decodes back.
    EXPECT_EQ(Url_Encode("\x01" "0110 a%b\r\xE4"), "%010110%20a%25b%0D%E4");
    EXPECT_EQ(Url_Encode(" <>\"#%{}|\\^~[]`"), "%20%3C%3E%22%23%25%7B%7D%7C%5C%5E%7E%5B%5D%60");
    EXPECT_EQ(Url_Encode("\r a", 1), "%0D a");
    EXPECT_EQ(Url_Encode("\r a", 2), "\r%20a");
    const std::string all = [] { std::string s; for (int c = 0; c < 256; ++c) s += char(c); return s; }();
    EXPECT_EQ(Tpl_Decode(Url_Encode(all)), all);
}
