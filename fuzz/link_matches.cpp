// The wait patterns: the input is a pattern, a NUL, and the data.
#include "links/matches.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = in.find('\0');
    if (nul == std::string_view::npos)
        return 0;
    const std::string_view pattern = in.substr(0, nul), text = in.substr(nul + 1);
    const bool m = Link_Matches(pattern, text);
    // A pattern that matches somewhere matches any longer data around it.
    if (m && !Link_Matches(pattern, "x" + std::string(text) + "x"))
        __builtin_trap();
    return 0;
}
