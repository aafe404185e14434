// The card centre's response body, and its verdict line on a transaction file.
#include "protocol/transfile.h"
#include "protocol/messages.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tollan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    TransRecord t;
    KK_DecodeResponse(in, t, 2026, 12);
    KK_ParseServerReply(in);
    return 0;
}
