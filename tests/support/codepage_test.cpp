#include "support/codepage.h"

#include <QString>
#include "tests/support/suite.h"

TEST(CodePage, EstonianLettersAndEveryByteRoundTripAndTheRestBecomesQuestionMarks)
{
    const std::string cp = "L\xF5petan... \xDChendus katkes \x8A\x9E\x80";
    const std::string utf8 = Text_Cp1252ToUtf8(cp);
    EXPECT_EQ(utf8, "Lõpetan... Ühendus katkes Šž€");
    EXPECT_EQ(Text_Utf8ToCp1252(utf8), cp);
    EXPECT_EQ(Text_ToQString(cp), QString::fromUtf8(utf8.c_str()));
    EXPECT_EQ(Text_FromQString(QString::fromUtf8(utf8.c_str())), cp);
    std::string all;   // and so does every byte
    for (int i = 0; i < 256; ++i)
        all += char(i);
    EXPECT_EQ(Text_Utf8ToCp1252(Text_Cp1252ToUtf8(all)), all);
    EXPECT_EQ(Text_FromQString(Text_ToQString(all)), all);

    // Unmappable and malformed input becomes question marks.
    EXPECT_EQ(Text_Utf8ToCp1252("a\xE2\x82"), "a??");          // truncated sequence
    EXPECT_EQ(Text_Utf8ToCp1252("\xFF" "b"), "?b");               // not a UTF-8 lead byte
    EXPECT_EQ(Text_Utf8ToCp1252("\xE4\xB8\xAD"), "?");            // CJK has no place in the code page
    // Overlong spellings (of CR, "/"), a surrogate and a code beyond Unicode are no characters.
    EXPECT_EQ(Text_Utf8ToCp1252("[m\xC0\x8D]"), "[m??]");
    EXPECT_EQ(Text_Utf8ToCp1252("\xE0\x80\xAF"), "???");
    EXPECT_EQ(Text_Utf8ToCp1252("\xED\xA0\x80"), "???");
    EXPECT_EQ(Text_Utf8ToCp1252("\xF4\x90\x80\x80"), "????");
    EXPECT_EQ(Text_FromQString(QString::fromUtf8("\xF0\x9F\x98\x80")), "?");
}
