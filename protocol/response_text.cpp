#include "protocol/response_text.h"

#include "support/codepage.h"

#include <cctype>
#include <map>

namespace tollan {

namespace {

struct CodeText {
    std::int16_t code;
    const char* text;   // UTF-8 here, for the reader; sent in Windows-1252
};

const CodeText kResponseTexts[] = {
    {0, "OK"},
    {2, "Helista Kaardikeskusse"},
    {3, "Tundmatu äriklient"},
    {4, "Kaart on suletud, võta ära"},
    {5, "Puudub müügiluba"},
    {7, "Varastatud kaart, võta ära!"},
    {12, "Nõuab PIN-koodi"},
    {14, "Tundmatu kaart"},
    {19, "Süsteemiviga"},
    {22, "Autoriseerimine ei õnnestu"},
    {30, "Formaadiviga"},
    {33, "Aegunud kaart"},
    {38, "PIN katsete arv ületatud, võta ära"},
    {51, "Arvel pole piisavalt raha"},
    {55, "Vale PIN, proovi uuesti"},
    {59, "Väärkasutuse kahtlus, kontrolli dokumente"},
    {61, "Limiit on ületatud"},
    {75, "PIN katsete arv on läbi"},
    {88, "Vigane PIN blokk"},
    {94, "Korduv päring, helistage Kaardikeskusse"},
    {97, "Kassa kuupäev on vale"},
};

// Codes 1 to 19 share their meanings with the card centre's own error codes; 8 and 9 are unused.
const CodeText kErrorTexts[] = {
    {1, "Viga kaardikeskuse süsteemis"},
    {2, "Mittekorrektne infopakett"},
    {3, "Tundmatu tööjaam"},
    {4, "Korduv paketinumber"},
    {5, "Tundmatu paketitüüp"},
    {6, "Tundmatu dialoogiskeem"},
    {7, "Paketitüüp"},
    {10, "Tundmatu kaart"},
    {11, "Mittekorrektne PIN-kood"},
    {12, "PIN katsete arv ületatud"},
    {13, "Kaart on keelatud"},
    {14, "Tehing ületaks kaardi limiiti"},
    {15, "Kaardi limiit ületatud"},
    {16, "Tehing ületaks kaardi päevalimiiti"},
    {17, "Kaardi päevalimiit ületatud"},
    {18, "Kaardi kehtivuse lõppkuupäev on ületatud"},
    {19, "Kaart ei luba seda tüüpi tehinguid"},
};

template <std::size_t N>
std::map<std::int16_t, std::string> CodePageTable(const CodeText (&rows)[N])
{
    std::map<std::int16_t, std::string> table;
    for (const auto& row : rows)
        table.emplace(row.code, Text_Utf8ToCp1252(row.text));
    return table;
}

} // namespace

std::string KK_ResponseText(std::int16_t code)
{
    static const auto table = CodePageTable(kResponseTexts);
    if (const auto it = table.find(code); it != table.end()) return it->second;
    return "Tundmatu kood: " + std::to_string(code);
}

std::string KK_ResponseText(std::string_view code)
{
    const bool digits = code.size() == 2 && std::isdigit(static_cast<unsigned char>(code[0])) &&
                        std::isdigit(static_cast<unsigned char>(code[1]));
    if (digits) return KK_ResponseText(static_cast<std::int16_t>((code[0] - '0') * 10 + (code[1] - '0')));
    return "Tundmatu kood: " + std::string(code);
}

std::string KK_ErrorText(std::int16_t code)
{
    static const auto table = CodePageTable(kErrorTexts);
    if (const auto it = table.find(code); it != table.end()) return it->second;
    return "Tundmatu veakood: " + std::to_string(code) + " (lisainfo kaardikeskusest)";
}

} // namespace tollan
