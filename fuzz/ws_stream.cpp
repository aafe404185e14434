// The workstation stream: the input is cut into arrivals at the positions its first bytes name.
#include "workstation/reassembly.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t cuts = data[0] % 8;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    StreamBuffer b;
    for (std::size_t i = 0; i < cuts && !rest.empty(); ++i) {
        const std::size_t n = std::size_t(static_cast<unsigned char>(rest[0])) % (rest.size() + 1);
        Stream_Feed(b, rest.substr(0, n));
        rest.remove_prefix(n);
    }
    Stream_Feed(b, rest);
    if (b.data.size() > kLargestPacket + 2 || b.escape.size() > 2)
        __builtin_trap();  // the buffer never grows past one packet
    // Giving up what waits always makes progress: each expiry leaves less behind.
    while (Stream_Pending(b)) {
        const std::size_t before = b.data.size() + b.escape.size();
        Stream_Expire(b);
        if (b.data.size() + b.escape.size() >= before)
            __builtin_trap();
    }
    return 0;
}
