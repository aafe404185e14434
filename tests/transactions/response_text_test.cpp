#include "protocol/response_text.h"

#include <gtest/gtest.h>

using namespace tollan;

namespace {

struct Row {
    std::int16_t code;
    const char* text;   // Windows-1252 bytes, spelled out so that the source encoding cannot hide a fault
};

} // namespace

TEST(ResponseText, EveryVerdictOfTheCardCentreHasItsTextByteForByteAndOthersTheirCode)
{
    const Row rows[] = {
        {0, "OK"}, {2, "Helista Kaardikeskusse"}, {3, "Tundmatu \xE4riklient"},
        {4, "Kaart on suletud, v\xF5ta \xE4ra"}, {5, "Puudub m\xFC\xFCgiluba"},
        {7, "Varastatud kaart, v\xF5ta \xE4ra!"}, {12, "N\xF5uab PIN-koodi"}, {14, "Tundmatu kaart"},
        {19, "S\xFCsteemiviga"}, {22, "Autoriseerimine ei \xF5nnestu"}, {30, "Formaadiviga"}, {33, "Aegunud kaart"},
        {38, "PIN katsete arv \xFCletatud, v\xF5ta \xE4ra"}, {51, "Arvel pole piisavalt raha"},
        {55, "Vale PIN, proovi uuesti"}, {59, "V\xE4\xE4rkasutuse kahtlus, kontrolli dokumente"},
        {61, "Limiit on \xFCletatud"}, {75, "PIN katsete arv on l\xE4" "bi"}, {88, "Vigane PIN blokk"},
        {94, "Korduv p\xE4ring, helistage Kaardikeskusse"}, {97, "Kassa kuup\xE4" "ev on vale"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(KK_ResponseText(r.code), r.text) << r.code;
    // An unknown verdict shows its code unpadded.
    for (std::int16_t code : {1, 99, -1, 6, 100, -32768, 32767})
        EXPECT_EQ(KK_ResponseText(code), "Tundmatu kood: " + std::to_string(code));
}

TEST(ErrorText, EveryErrorCodeHasItsTextByteForByteAndOthersTheDefault)
{
    const Row rows[] = {
        {1, "Viga kaardikeskuse s\xFCsteemis"}, {2, "Mittekorrektne infopakett"}, {3, "Tundmatu t\xF6\xF6jaam"},
        {4, "Korduv paketinumber"}, {5, "Tundmatu paketit\xFC\xFCp"}, {6, "Tundmatu dialoogiskeem"},
        {7, "Paketit\xFC\xFCp"}, {10, "Tundmatu kaart"}, {11, "Mittekorrektne PIN-kood"},
        {12, "PIN katsete arv \xFCletatud"}, {13, "Kaart on keelatud"}, {14, "Tehing \xFCletaks kaardi limiiti"},
        {15, "Kaardi limiit \xFCletatud"}, {16, "Tehing \xFCletaks kaardi p\xE4" "evalimiiti"},
        {17, "Kaardi p\xE4" "evalimiit \xFCletatud"}, {18, "Kaardi kehtivuse l\xF5ppkuup\xE4" "ev on \xFCletatud"},
        {19, "Kaart ei luba seda t\xFC\xFCpi tehinguid"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(KK_ErrorText(r.code), r.text) << r.code;
    // Codes outside the table fall to the default text.
    for (std::int16_t code : {8, 9, 20, 32, 0, -5})
        EXPECT_EQ(KK_ErrorText(code), "Tundmatu veakood: " + std::to_string(code) + " (lisainfo kaardikeskusest)");
}
