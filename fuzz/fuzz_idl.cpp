// libFuzzer harness: tokenize + parse any bytes; debug-render what parses.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/parser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tokens = velmora::tokenize(text);
    if (!tokens.ok()) {
        (void)tokens.error().text();
        return 0;
    }
    auto doc = velmora::parse_document(*tokens);
    if (!doc.ok()) {
        (void)doc.error().text();
        return 0;
    }
    // Rendering walks every type and value the parse built; copying checks the deep copy.
    const velmora::ThriftDocument copy = *doc;
    (void)velmora::to_debug_string(copy);
    return 0;
}
