#include "receipts/template.h"

#include "support/clock.h"
#include "support/text.h"

#include <algorithm>

namespace tollan {

namespace {

std::int16_t AlignOf(char c)
{
    switch (c) {
    case '2': case 'r': case 'R': return 2;
    case '3': case 'c': case 'C': return 3;
    default: return 1;
    }
}

// A width read from the template, kept within 0..32767 so that no template can ask for more.
std::int32_t WidthOf(std::string_view text)
{
    const double v = Num_Value(text);
    if (!(v > 0)) return 0;
    return v >= kNoLimit ? kNoLimit : static_cast<std::int32_t>(v);
}

TemplateItem ParseItem(std::string_view item)
{
    TemplateItem t;
    std::size_t colon;
    if (!item.empty() && item.front() == '{') {
        t.kind = 2;
        std::size_t close = item.find('}', 1);
        if (close == std::string_view::npos) close = item.size();
        t.text = Tpl_Decode(item.substr(1, close - 1));
        colon = close < item.size() ? item.find(':', close + 1) : std::string_view::npos;
        if (close < item.size()) t.format = std::string(item.substr(close + 1, colon == std::string_view::npos ? std::string_view::npos : colon - close - 1));
    } else {
        t.kind = 1;
        colon = item.find(':');
        t.text = Tpl_Decode(item.substr(0, colon));
    }
    std::string_view width;
    if (colon != std::string_view::npos) {
        width = item.substr(colon + 1);
        const std::size_t slash = width.find('/');
        if (slash != std::string_view::npos) {
            t.align = AlignOf(slash + 1 < width.size() ? width[slash + 1] : '\0');
            width = width.substr(0, slash);
        }
    }
    if (width.empty()) {
        if (t.kind == 2) {
            t.minWidth = 0;
            t.maxWidth = kNoLimit;
        } else {
            t.minWidth = t.maxWidth = static_cast<std::int32_t>(std::min<std::size_t>(t.text.size(), kNoLimit));
        }
    } else if (const std::size_t dash = width.find('-'); dash != std::string_view::npos) {
        t.minWidth = WidthOf(width.substr(0, dash));
        t.maxWidth = dash + 1 == width.size() ? kNoLimit : WidthOf(width.substr(dash + 1));
    } else {
        t.minWidth = t.maxWidth = WidthOf(width);
    }
    if (t.kind == 1 && t.text.empty()) t.text.push_back(' ');
    return t;
}

DateTime Now() { return Clock_NowDateTime(); }

std::string RenderField(const TemplateItem& item, std::string_view values)
{
    const std::string v = Param_Get(values, item.text);
    const std::string type = Str_Upper(std::string_view(item.format).substr(0, 3));
    std::string picture;
    if (const std::size_t open = item.format.find('['); open != std::string::npos) {
        const std::size_t close = item.format.find(']', open + 1);
        picture = Tpl_Decode(std::string_view(item.format).substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1));
    }
    if (type == "DAT" || type == "TIM") {
        // A value that is no date is shown as it stands.
        const auto d = DateTime_Read(v);
        if (!d) return v;
        return Fmt_DateTime(*d, picture.empty() ? (type == "DAT" ? "short date" : "short time") : picture);
    }
    if (type == "NUM") return picture.empty() ? v : Fmt_Number(Num_Value(v), picture);
    return picture.empty() ? v : Fmt_Text(v, picture);
}

} // namespace

std::vector<TemplateItem> Tpl_Parse(std::string_view tpl)
{
    std::vector<TemplateItem> items;
    std::size_t pos = 0;
    while (pos < tpl.size()) {
        std::size_t end = tpl.find(';', pos);
        if (end == std::string_view::npos) end = tpl.size();
        items.push_back(ParseItem(tpl.substr(pos, end - pos)));
        pos = end + 1;
    }
    return items;
}

std::string Tpl_Render(std::string_view tpl, std::string_view values)
{
    std::string all(values);
    const DateTime now = Now();
    Param_Set(all, "!Date", Fmt_DateTime(now, "short date"));
    Param_Set(all, "!Time", Fmt_DateTime(now, "short time"));
    std::string out;
    for (const TemplateItem& item : Tpl_Parse(tpl)) {
        const std::string t = item.kind == 2 ? RenderField(item, all) : item.text;
        std::int32_t w = static_cast<std::int32_t>(std::min<std::size_t>(t.size(), kNoLimit));
        if (w < item.minWidth) w = item.minWidth;
        if (w > item.maxWidth) w = item.maxWidth;
        out += Str_Align(t, w, item.align);
    }
    return out;
}

} // namespace tollan
