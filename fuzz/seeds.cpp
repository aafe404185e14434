// fuzz_seeds DIR: writes a seed corpus for every fuzz target into DIR/<target>/, made with the
// encoders, so the fuzzers start from the real shapes of their inputs.
#include "protocol/frame.h"
#include "protocol/messages.h"
#include "receipts/template.h"
#include "support/config.h"
#include "support/home.h"
#include "support/registry.h"
#include "workstation/packet.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using namespace tollan;

namespace {

std::string Packet(std::int16_t type, const std::string& data)
{
    WorkstationPacket p;
    p.Workstation = "POS00001";
    p.WorkstationTrans = "00000001";
    p.AnswerType = type;
    p.AnswerData = data;
    return WS_EncodePacket(p);
}

std::string Purchase()
{
    PurchaseRequest q;
    q.Kind = 0;
    q.Date = 20261207;
    q.Time = 123000;
    q.Amount = 125000;
    q.PAN = "4000001234567899";
    q.CardData = "4000001234567899=2812101000001230000   02812";
    PurchaseItems items(3);
    items[1].ItemCode = "A1";
    items[2].ItemText = "Leib";
    return WS_EncodePurchase(q, items);
}

// The registry_roundtrip target's input: "[path", then "=name" and "value" fields, between zero bytes.
std::string RegistryFields(const std::vector<RegSection>& sections)
{
    std::string out;
    for (const auto& s : sections) {
        out += "[" + s.path + '\0';
        for (const auto& [name, value] : s.values)
            out += "=" + name + '\0' + value + '\0';
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds DIR\n";
        return 64;
    }
    // The request seeds read the terminal's settings: from an empty store of their own.
    QTemporaryDir home;
    Home_Set(home.path());
    Cfg_SetRoot(kCfgRoot);
    TransRecord t;
    t.PAN = "4000001234567899";
    t.Amount = 125000;
    t.Date = 20261207;
    t.Time = 123000;
    t.STAN = "57";
    t.Track2 = "4000001234567899=28121010000012300000";
    const std::string purchase = Packet(18, Purchase());
    const std::map<std::string, std::vector<std::string>> seeds = {
        {"ws_packet", {purchase, Packet(0, WS_ErrorData(32, "Viga")), Packet(10, WS_DialogData("Kontroll", "")),
                       "noise" + Packet(20, "4761")}},
        {"ws_stream", {"\x03\x10\x05" + purchase + Packet(8, "Jah%25"), "\x01\x02" + Packet(20, "4761") + "%4"}},
        {"kk_frame", {KK_Frame("abc"), KK_Frame(std::string("\x01\x00\x41\x23\xC1\x7E\x0D", 7)),
                      KK_FrameSimple("LINE1"), KK_Escape(std::string("\x00\xFF\x7F", 3))}},
        {"kk_response", {std::string("\0\0\0\0\x06\0\0\0", 8) + KK_FormatField(4, 6, true, "A1B2C3") +
                             KK_FormatField(4, 2, true, "00"),
                         KK_BuildRequest(kKK_Bitmap0100, t, MerchantIds{}),
                         KK_BuildRequest(kKK_Bitmap0400, t, MerchantIds{}, std::string(42, '0')),
                         std::string("Fail vastu voetud") + std::string(29, ' ') + "000011000002000000012345"}},
        {"tpl_render", {std::string(kBuiltinReceipt) + '\0' + "Summa=12,50;Kaart=4000 **** 7899;Kuup=07.12.2026",
                        std::string("{Summa:10R,0.00}[Kaart]%0D%0A{X:-5}") + '\0' + "Summa=3;X=abc"}},
        {"link_matches", {std::string("????????*\r") + '\0' + "12345678\r", std::string("[!0-9]#[a-c]") + '\0' + "x1b",
                          std::string("[ce][olr][mr]") + '\0' + "\r\ncom\r\n"}},
        {"registry_roundtrip", {RegistryFields({{"SOFTWARE\\Valdrin\\Tollan", {{"Port", "1280"}, {"NextNumber", "57"}}},
                                                {"SOFTWARE\\Valdrin\\Tollan\\X25", {{"Number", "5551234"}}}}),
                                RegistryFields({{" [POS\n001] ", {{"a=b", "\"x\"\r\n"}, {";c", " d "}, {"#e", "\\"}}},
                                                {"\"", {{"[f]", "P\xE4rnu\x81\x7F\x01"}, {"", ""}}}})}},
        {"registry_parse", {"[SOFTWARE\\Valdrin\\Tollan\\X25]\nNumber=5551234\n",
                            "[SOFTWARE\\Valdrin\\Tollan]\nPort=1280\nFirmaNimi=\"Pood \\\"OU\\\"\\r\\n\"\n; kommentaar\n"}},
    };
    for (const auto& [target, files] : seeds) {
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / target;
        std::filesystem::create_directories(dir);
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::ofstream out(dir / ("seed" + std::to_string(i + 1)), std::ios::binary);
            out.write(files[i].data(), std::streamsize(files[i].size()));
        }
    }
    return 0;
}
