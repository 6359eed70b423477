// Request bodies reach the lookup service from any client of the network,
// and answers reach the engine from whatever answers at the lookup address:
// any bytes must give a request, an answer or a reason, never a fault; and
// what one side writes, the other reads back as it was.
#include "lookup_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

template <typename Value, typename Decode, typename Encode>
void checkOne(std::string_view body, Decode decode, Encode encode) {
    Value value;
    std::string error;
    if (!decode(body, value, error)) {
        if (error.empty())
            std::abort();
        return;
    }
    const std::string written = encode(value);
    Value back;
    if (!decode(written, back, error) || encode(back) != written)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view body(reinterpret_cast<const char *>(data), size);
    checkOne<recog::LookupRequest>(body, recog::decodeRequest, recog::encodeRequest);
    checkOne<recog::LookupAnswer>(body, recog::decodeAnswer, recog::encodeAnswer);
    return 0;
}
