#include "tests/transactions/suite.h"

// Every code the tables know has a text of its own in the register's code page (no UTF-8 left in
// it), and any other code gets the unknown-code text with the code itself.
TEST(ResponseText, EveryKnownCodeHasItsTextInTheRegistersCodePageAndOthersTheirCode)
{
    int known = 0;
    for (std::int16_t code = -1; code <= 100; ++code) {
        const std::string unknown = "Tundmatu kood: " + std::to_string(code);
        const std::string text = KK_ResponseText(code);
        if (text == unknown)
            continue;
        ++known;
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find('\xC3'), std::string::npos) << code << ": " << text;
    }
    EXPECT_EQ(known, 21);
    EXPECT_EQ(KK_ResponseText("51"), "Arvel pole piisavalt raha");
    EXPECT_EQ(KK_ResponseText("N7"), "Tundmatu kood: N7");
    EXPECT_EQ(KK_ErrorText(13), "Kaart on keelatud");
    EXPECT_EQ(KK_ErrorText(8), "Tundmatu veakood: 8 (lisainfo kaardikeskusest)");
}
