// libFuzzer harness: arbitrary bytes through the Binary protocol reader, skip and copy.
#include "protocol/binary.hpp"
#include "protocol_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora::protocol;
    return fuzz::fuzz_protocol<BinaryProtocolReader, BinaryProtocolWriter, true>(data, size);
}
