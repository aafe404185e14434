// The registry file from the other side: any sections, names and values (bytes 1 to 255) must
// format into a file that parses back to exactly them. The input is fields between zero bytes:
// "[" and a section's path, "=" and a value name followed by a field with its value; other
// fields are skipped. Paths are kept unique and names unique within their section as the
// registry compares them (case and surrounding blanks aside), as a registry holds them.
#include "support/registry.h"
#include "support/text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    std::vector<RegSection> sections;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        if (f.starts_with('[')) {
            const std::string path = f.substr(1);
            bool taken = false;
            for (const auto& s : sections)
                taken = taken || Text_Equal(s.path, path);
            if (!taken)
                sections.push_back({path, {}});
        } else if (f.starts_with('=') && i + 1 < fields.size() && !sections.empty()) {
            const std::string name = f.substr(1);
            auto& values = sections.back().values;
            bool taken = false;
            for (const auto& [n, v] : values)
                taken = taken || Text_Equal(n, name);
            if (!taken)
                values.emplace_back(name, fields[i + 1]);
            ++i;
        }
    }
    if (Reg_Parse(Reg_Format(sections)) != sections)
        __builtin_trap();
    return 0;
}
