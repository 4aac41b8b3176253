// Fuzzes struct deserialization (and re-serialization) in the JSON protocol.
#include "struct_fuzz.hpp"

static velmora_fuzz::Harness harness;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    harness = velmora_fuzz::start("JSON");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora_fuzz::run(harness, data, size);
    return 0;
}
