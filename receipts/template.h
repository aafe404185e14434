#pragma once
// Receipt templates: one-line texts of items separated by ";". An item is literal text or a field
// "{Name}" replaced from a parameter list, optionally with a type and picture ("{Date}dat",
// "{ExpDate}[mm/yy]"), a width ":a-b" and an alignment "/R". Characters with a meaning in the
// template are written as "%" escapes (Tpl_Decode in support/text.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

struct TemplateItem {
    std::int16_t kind = 1;        // 1 literal, 2 field
    std::string text;             // the decoded literal, or the decoded field name
    std::int32_t minWidth = 0;
    std::int32_t maxWidth = 32767;  // 32767: no limit
    std::int16_t align = 1;       // 1 left, 2 right, 3 centre
    std::string format;           // a field's type and picture ("dat", "[mm/yy]")
};

inline constexpr std::int32_t kNoLimit = 32767;

std::vector<TemplateItem> Tpl_Parse(std::string_view tpl);
// The template rendered with the values; names absent from the values render empty. Never fails.
std::string Tpl_Render(std::string_view tpl, std::string_view values);

// The receipt printed when no template is configured, for purchases and cancellations alike.
inline constexpr std::string_view kBuiltinReceipt =
    "%0D%0A;"
    "{Name};%0D%0A;"
    "{Address};%0D%0A;"
    "Reg. nr.%3A ;{RegNr};%0D%0A;"
    "%0D%0A;"
    "KVIITUNG NR. ;{Number};%0D%0A;"
    "Kassa%3A ;{POS};  Kuup%3A ;{Date}dat; ;{Time}tim;%0D%0A;"
    "Kaart nr. ;{PAN};{PANManual};%0D%0A;"
    "Kehtivusaeg%3A ;{ExpDate}[mm/yy];%0D%0A;"
    "Autoris. nr. ;{AuthCode};{AuthManual};%0D%0A;"
    "%0D%0A;"
    "Summa%3A ;{Amount};%0D%0A;"
    "%0D%0A;"
    "Dokument%3A ;%0D%0A;"
    "%0D%0A;"
    "Allkiri%3A ;%0D%0A;"
    "%0D%0A;";

} // namespace tollan
