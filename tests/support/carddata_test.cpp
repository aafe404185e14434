#include "support/carddata.h"
#include "tests/common/test_home.h"

#include "tests/support/suite.h"

namespace {

TEST(CardMask, AtMostTheFirstSixAndTheLastFourDigitsShow)
{
    const std::pair<const char*, const char*> numbers[] = {
        {"4000001234567899", "400000******7899"}, {"4000001234567899012", "400000*********9012"},
        {"1234567890", "******7890"}, {"12345", "*2345"}, {"1234", "1234"}, {"", ""},
        {"400000******7899", "400000******7899"},   // masked already
    };
    for (const auto& [pan, masked] : numbers)
        EXPECT_EQ(Card_Mask(pan), masked) << pan;
    const std::pair<const char*, const char*> texts[] = {
        {"card 4000001234567899 paid", "card 400000******7899 paid"},
        {"4000001234567899=28121010000012300000;x", "400000******7899=********************;x"},
        {"4000001234567899D2812101", "400000******7899D*******"},
        {"20261209123456789", "202612*******6789"},   // inside a longer run of digits too
        {"STAN 123456, 12 digits 123456789012", "STAN 123456, 12 digits 123456789012"},
    };
    for (const auto& [text, masked] : texts)
        EXPECT_EQ(Card_MaskText(text), masked) << text;
}

TEST(CardKeys, ANumberSealedOpensOnlyWithItsKeyItsBytesAndItsMaskedForm)
{
    const CardKey key = CardKey_New({});
    const CardKey other = CardKey_New({key});
    EXPECT_EQ(other.id, key.id + 1);
    const auto sealed = Card_SealWith(key, "4000001234567899", "400000******7899");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->blob.find("4000001234567899"), std::string::npos);
    EXPECT_NE(Card_SealWith(key, "4000001234567899", "400000******7899")->blob, sealed->blob);   // a nonce each
    EXPECT_EQ(Card_OpenWith(key, sealed->blob, "400000******7899"), "4000001234567899");
    EXPECT_EQ(Card_OpenWith(other, sealed->blob, "400000******7899"), std::nullopt);
    EXPECT_EQ(Card_OpenWith(key, sealed->blob, "400000******7898"), std::nullopt);
    std::string changed = sealed->blob;
    changed[10] = changed[10] == 'A' ? 'B' : 'A';
    EXPECT_EQ(Card_OpenWith(key, changed, "400000******7899"), std::nullopt);
    EXPECT_EQ(Card_OpenWith(key, "not base64!", "400000******7899"), std::nullopt);
}

// The key set comes from a file outside the home folder, made at the first start when no row needs
// a key; never replaced when one is missing, never taken from the home folder, never read when
// others could read it.
TEST(CardKeys, TheKeyFileIsMadeOnceKeptApartFromTheDataAndReadOnlyWhenItIsTheOwnersAlone)
{
    QTemporaryDir dir;
    test::UseTestHome(dir.filePath("home"));
    const CardKeySource source{dir.filePath("config/tollan/card.key"), true, "the default key file"};
    std::string why;
    EXPECT_FALSE(CardKey_Open(source, false, nullptr, why));
    EXPECT_NE(why.find("is missing"), std::string::npos) << why;
    bool created = false;
    ASSERT_TRUE(CardKey_Open(source, true, &created, why)) << why;
    EXPECT_TRUE(created);
    EXPECT_EQ(QFile::permissions(source.path) & 0x0077, 0);
    const std::vector<CardKey> first = CardKey_Keys();
    ASSERT_TRUE(CardKey_Open(source, true, &created, why));
    EXPECT_FALSE(created);
    EXPECT_EQ(CardKey_Keys().back().key, first.back().key);

    ::chmod(source.path.toLocal8Bit().constData(), 0644);
    EXPECT_FALSE(CardKey_Open(source, true, nullptr, why));
    EXPECT_NE(why.find("chmod 600"), std::string::npos) << why;

    const CardKeySource beside{dir.filePath("home/card.key"), true, "--card-key"};
    EXPECT_FALSE(CardKey_Open(beside, true, nullptr, why));
    EXPECT_NE(why.find("home folder"), std::string::npos) << why;
    EXPECT_FALSE(QFile::exists(beside.path));

    for (const char* text : {"", "# only a comment\n", "1 c2hvcnQ=\n", "x AAAA\n"})
        EXPECT_FALSE(CardKey_Parse(text, why)) << text;
    const auto parsed = CardKey_Parse(CardKey_Format(first), why);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->back().key, first.back().key);
}

} // namespace
