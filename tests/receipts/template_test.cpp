#include "tests/receipts/suite.h"

namespace {
struct EstonianForms {
    EstonianForms() { saved = Text_Forms(); Text_Forms() = {"dd.mm.yyyy", "hh:nn:ss", ',', ' '}; }
    ~EstonianForms() { Text_Forms() = saved; }
    TextForms saved;
};
} // namespace

TEST(Templates, ItemsWidthsAlignmentsTypesAndPictures)
{
    EstonianForms et;
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 2)));
    ClockScope scope(clock);
    struct Case { const char* tpl; const char* values; const char* out; } cases[] = {
        {"KVIITUNG NR. ;{Number};%0D%0A;", "Number=7;", "KVIITUNG NR. 7\r\n"},
        {"Kassa%3A ;{POS};", "POS=001;", "Kassa: 001"}, {";;", "", ""},
        {"{Amount}:10/R", "Amount=12.5;", "      12.5"}, {"{Amount}:3", "Amount=12345;", "123"},
        {"{Amount}:3/R", "Amount=12345;", "345"}, {"{X}:2-4/C", "X=abcdef;", "bcde"}, {"{X}:2-4/C", "X=a;", "a "},
        {"{X}:5-", "X=ab;", "ab   "}, {"{X}:-3", "X=abcdef;", "abc"}, {"abc:5/r", "", "  abc"}, {"abc:2", "", "ab"},
        {"{Missing};end", "", "end"},
        {"{X", "X=open;", "open"},              // a missing "}" runs to the end of the item
        {"%;", "", ""},                        // the ";" ends the item: "%" alone is dropped
        {"a%3Bb", "", "a;b"},
        {"{X}:3/x", "X=abcdef;", "abc"},       // an unknown alignment is left
        {"{X}:100000000000000000000", "X=a;", nullptr},
    };
    for (const auto& c : cases) {
        const std::string out = Tpl_Render(c.tpl, c.values);
        if (c.out) EXPECT_EQ(out, c.out) << c.tpl;
        else EXPECT_EQ(out.size(), 32767u) << c.tpl;  // a huge width is held at the limit
    }
    const char* values = "Date=2026-03-01;Time=1899-12-30 14:30:59;Sum=1234.5;ExpDate=2027-11-30;Text=abc;";
    EXPECT_EQ(Tpl_Render("{Date}dat", values), "01.03.2026");
    EXPECT_EQ(Tpl_Render("{Date}DAT[d.m.yy]", values), "1.3.26");
    EXPECT_EQ(Tpl_Render("{Time}tim", values), "14:30:59");
    EXPECT_EQ(Tpl_Render("{Sum}num[#,##0.00]", values), "1 234,50");
    EXPECT_EQ(Tpl_Render("{Sum}num", values), "1234.5");
    EXPECT_EQ(Tpl_Render("{ExpDate}[mm/yy]", values), "11/27");   // "/" aligns only after ":"
    EXPECT_EQ(Tpl_Render("{Text}dat", values), "abc");
    EXPECT_EQ(Tpl_Render("{Sum}[0.0", values), "1234,5");        // a missing "]" runs to the end
    EXPECT_EQ(Tpl_Render("{!Date};%20;{!Time}", values), "07.12.2026 09:05:02");
    // A picture, then the width and the alignment of what it gave.
    EXPECT_EQ(Tpl_Render("{ExpDate}[mm/yy]:7-9/C;x", values), " 11/27 x");
}

TEST(Templates, TheBuiltInReceipt)
{
    EstonianForms et;
    const std::string values =
        "Name=Kauplus O\xDC;Address=P\xE4rnu mnt 5, Tallinn;RegNr=10203040;Number=42;POS=001;"
        "Date=2026-12-07;Time=1899-12-30 14:03:59;PAN=4111111111111111;PANManual= (K);ExpDate=2027-11-01;"
        "AuthCode=123456;AuthManual=;Amount=12,35;";
    EXPECT_EQ(Tpl_Render(kBuiltinReceipt, values),
              "\r\nKauplus O\xDC\r\nP\xE4rnu mnt 5, Tallinn\r\nReg. nr.: 10203040\r\n\r\nKVIITUNG NR. 42\r\n"
              "Kassa: 001  Kuup: 07.12.2026 14:03:59\r\nKaart nr. 4111111111111111 (K)\r\nKehtivusaeg: 11/27\r\n"
              "Autoris. nr. 123456\r\n\r\nSumma: 12,35\r\n\r\nDokument: \r\n\r\nAllkiri: \r\n\r\n");
}
