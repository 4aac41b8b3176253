// libFuzzer harness: arbitrary bytes through the Compact protocol reader, skip and copy.
#include "protocol/compact.hpp"
#include "protocol_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora::protocol;
    return fuzz::fuzz_protocol<CompactProtocolReader, CompactProtocolWriter, true>(data, size);
}
