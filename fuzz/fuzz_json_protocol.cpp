// libFuzzer harness: arbitrary bytes through the JSON protocol reader, skip and copy, and
// through the JSON parser/printer and the Base64 decoder on their own.
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/base64.hpp"
#include "protocol/json.hpp"
#include "protocol/json_value.hpp"
#include "protocol_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora::protocol;
    fuzz::fuzz_protocol<JSONProtocolReader, JSONProtocolWriter, false>(data, size);

    // A parsed document prints to text that parses back to the same tree.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto doc = parse_json(text)) {
        const std::string printed = to_json(*doc);
        auto again = parse_json(printed);
        if (!again || !(*again == *doc) || to_json(*again) != printed) std::abort();
    }
    // The decoder accepts only canonical Base64, so what it accepts encodes back unchanged.
    std::vector<std::uint8_t> decoded;
    if (base64_decode(text, decoded).ok() && base64_encode(decoded) != text) std::abort();
    return 0;
}
