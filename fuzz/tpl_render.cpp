// Receipt templates: the input is a template, a NUL, and the parameter list of values.
#include "receipts/template.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = in.find('\0');
    const std::string_view tpl = in.substr(0, nul);
    const std::string_view values = nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1);
    Tpl_Render(tpl, values);
    return 0;
}
