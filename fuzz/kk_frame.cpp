// Card-centre frames: full and simple, and the escaping under them; what unframes must frame back.
#include "protocol/frame.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    // What unframes frames back, unless our own framing of it would overflow its check (a peer's
    // escaping may be shorter than ours: then we build nothing, never a wrong frame).
    const std::string payload = KK_Unframe(in);
    const std::string again = payload.empty() ? std::string() : KK_Frame(payload);
    if (!again.empty() && KK_Unframe(again) != payload)
        __builtin_trap();
    KK_UnframeSimple(in);
    // Every frame found in a stream is one that unframes on its own; a valid frame alone is found.
    const std::vector<std::string> found = KK_UnframeAll(in);
    if (!payload.empty() && (found.empty() || found.front() != payload))
        __builtin_trap();
    if (auto u = KK_Unescape(in); u && KK_Unescape(KK_Escape(*u)) != *u)
        __builtin_trap();
    return 0;
}
