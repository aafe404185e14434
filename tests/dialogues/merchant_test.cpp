// What a request says of the merchant and the terminal, from the settings as they stand.
#include "tests/dialogues/suite.h"

namespace {

std::string B(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

class Settings : public ::testing::Test {
protected:
    QTemporaryDir home;
    void SetUp() override
    {
        test::UseTestHome(home.path());
        Cfg_Put("TerminaliTunnus", "TERM0001");
        Cfg_Put("FirmaRegNr", "10203040");
    }
};

TransRecord Purchase() { return test::SampleTrans("POS001", "1", "4000001234567899", 123450); }   // 12.345

// The elements of an approval in the card centre's layouts.
std::string Approval(const std::string& date7 = "1206140359", bool with39 = true)
{
    std::string bitmap = B({0x72, 0x24, 0x00, 0x00, 0x26, 0x80, 0x00, 0x00});   // 2 3 4 7 11 14 35 38 39 41
    if (!with39) bitmap[4] = static_cast<char>(0x24);
    return bitmap + KK_FormatField(2, 19, false, "4000001234567899") + KK_FormatField(2, 6, true, "000580") +
           KK_FormatField(2, 12, true, "000000001234") + KK_FormatField(2, 10, true, date7) +
           KK_FormatField(2, 6, true, "000124") + KK_FormatField(2, 4, true, "2812") +
           KK_FormatField(9, 37, false, "4000001234567899\r2812101") + KK_FormatField(4, 6, true, "AB1234") +
           (with39 ? "00" : "") + "TERM0001";
}

} // namespace

TEST_F(Settings, AnAuthorisationRequestCarriesEveryElementOfItsBitmapInOrder)
{
    Cfg_Put("FirmaLokaator", "Tallinn Pood");
    const std::string body = KK_BuildRequest(kKK_Bitmap0100, Purchase(), KK_MerchantIds("POS001"));
    const std::string expected =
        B({0x72, 0x24, 0x40, 0x00, 0x20, 0xE0, 0x80, 0x00}) +
        B({0x16, 0x40, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x99}) +             // 2
        B({0x00, 0x05, 0x80}) +                                                 // 3: the default
        B({0x00, 0x00, 0x00, 0x00, 0x12, 0x34}) +                               // 4: 12.345 as 1234
        B({0x12, 0x06, 0x14, 0x03, 0x59}) +                                     // 7
        B({0x00, 0x01, 0x23}) +                                                 // 11
        B({0x28, 0x12}) +                                                       // 14
        B({0x00, 0x00}) +                                                       // 18: "0000"
        B({0x37, 0x04, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0x9D, 0x28, 0x12, 0x10, 0x10,
           0x00, 0x00, 0x12, 0x30, 0x00, 0x00}) +                               // 35: "=" as D
        "TERM0001" +                                                            // 41
        "10203040 001   " +                                                     // 42
        "38Tallinn Pood" + std::string(26, ' ') +                               // 43
        B({0x02, 0x33});                                                        // 49: the default
    EXPECT_EQ(body, expected);
    // Defaults are written back, so that the registry lists what is in use.
    EXPECT_EQ(Cfg_Get("ProtsKood", "x"), "000580");
    EXPECT_EQ(Cfg_Get("Valuutakood", "x"), "233");
}

TEST_F(Settings, AReversalCarriesTheSecondaryBitmapAndTheOriginalData)
{
    Cfg_Put("ProtsKood", "200000");
    Cfg_Put("Valuutakood", "978");
    TransRecord t = Purchase();
    t.AuthCode = "A1B2C3";   // a stored row holds no verdict: the original's was "00"
    const std::string original = "0100000123120614035900000000001000000000002";
    const std::string body = KK_BuildRequest(kKK_Bitmap0400, t, KK_MerchantIds(t.Toojaam), original.substr(0, 42));
    const std::string expected =
        B({0xF2, 0x20, 0x40, 0x00, 0x06, 0xE2, 0x80, 0x00}) +
        B({0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00}) +                   // 1
        B({0x16, 0x40, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x99}) +             // 2
        B({0x20, 0x00, 0x00}) +                                                 // 3
        B({0x00, 0x00, 0x00, 0x00, 0x12, 0x34}) +                               // 4
        B({0x12, 0x06, 0x14, 0x03, 0x59}) +                                     // 7
        B({0x00, 0x01, 0x23}) +                                                 // 11
        B({0x00, 0x00}) +                                                       // 18
        "A1B2C3" + "00" + "TERM0001" + "10203040 001   " +                      // 38, 39, 41, 42
        "38" + std::string(38, ' ') +                                           // 43
        B({0x00, 0x23}) + "10203040 001   TERM0001" +                           // 47: length 23
        B({0x09, 0x78}) +                                                       // 49
        KK_PackDigits(original.substr(0, 42));                                  // 90
    EXPECT_EQ(body, expected);
}

TEST_F(Settings, CardAcceptorIdHasItsFixedShapeAndTheLocationIsCut)
{
    struct Row { const char* regNr; const char* toojaam; const char* id; } rows[] = {
        {"10203040", "POS001", "10203040 001"},
        {"1234567890123", "POS017", "123456789017"},
        {"", "7", "         007"},
        {"12345", "KASSA12", "12345    A12"},
    };
    for (const auto& r : rows) {
        Cfg_Put("FirmaRegNr", r.regNr);
        EXPECT_EQ(KK_CardAcceptorId(r.toojaam), r.id) << r.regNr;
    }
    Cfg_Put("FirmaLokaator", std::string(50, 'L'));
    EXPECT_EQ(KK_LocationField(), "38" + std::string(38, 'L'));   // cut at 38
}

// debug.log shows every element as it went but the card number and track-2, whose hidden digits
// are the nibble F: a request, a response, and a body that cannot be walked element by element.
TEST_F(Settings, TheCardElementsOfAMessageAreMaskedInPlace)
{
    const std::string pan = B({0x40, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x99});
    const std::string request = KK_BuildRequest(kKK_Bitmap0100, Purchase(), KK_MerchantIds("POS001"));
    const std::string masked = KK_MaskCardElements(request, true);
    ASSERT_EQ(masked.size(), request.size());
    EXPECT_NE(request.find(pan), std::string::npos);
    EXPECT_EQ(masked.find(pan), std::string::npos);
    EXPECT_NE(masked.find(B({0x16, 0x40, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x78, 0x99})), std::string::npos);   // 2
    EXPECT_EQ(masked.find(B({0x28, 0x12, 0x10, 0x10})), std::string::npos) << "the track's tail";
    // The bitmap and 2's length before, and 41, 42, 43 and 49 after, stand as they went.
    EXPECT_EQ(masked.substr(0, 9), request.substr(0, 9));
    EXPECT_EQ(masked.substr(masked.size() - 65), request.substr(request.size() - 65));

    const std::string response = KK_MaskCardElements(Approval(), false);
    EXPECT_EQ(response.size(), Approval().size());
    EXPECT_EQ(response.find(pan), std::string::npos);
    EXPECT_NE(response.find("AB1234"), std::string::npos);   // the rest as it came

    const std::string cut = Approval().substr(0, 40);   // ends inside an element
    EXPECT_EQ(KK_MaskCardElements(cut, false).find(pan), std::string::npos);
}
