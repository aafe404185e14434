// The registry file: what it parses to must format and parse back to the same.
#include "support/registry.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const auto sections = Reg_Parse(in);
    const std::string again = Reg_Format(sections);
    if (Reg_Format(Reg_Parse(again)) != again)
        __builtin_trap();
    return 0;
}
