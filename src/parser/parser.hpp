// IDL parser: tokens (or text) to a ThriftDocument, with the limits that keep it bounded.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "parser/lexer.hpp"
#include "parser/model.hpp"
#include "result.hpp"

namespace velmora {

// Deepest container nesting of a type expression (typedefs included): list<...> nested 64 times
// parses, 65 times is the Syntax error "Type nesting too deep (more than 64 levels)".
inline constexpr std::size_t kMaxTypeDepth = 64;
// Largest type expression, counted as the tree written out with every typedef expanded:
// beyond it the Syntax error "Type expression too large (more than 1024 nodes)".
inline constexpr std::size_t kMaxTypeNodes = 1024;
// Deepest nesting of a default value; deeper is a failed conversion (the field gets no default).
// Defaults follow their type, so kMaxTypeDepth already bounds them; this guards the converter.
inline constexpr std::size_t kMaxValueDepth = 64;
// Most fields and methods (each field's default value counted by its nodes) that `extends` may
// copy from parents in one document; beyond it the Syntax error "Inherited definitions too large
// (more than 262144 copied fields and methods)". Keeps long inheritance chains from growing the
// document quadratically.
inline constexpr std::size_t kMaxInheritedWeight = std::size_t{1} << 18;

// Parses a token sequence into a document; the first error aborts the parse.
Result<ThriftDocument, ParseError> parse_document(std::span<const Token> tokens);

// tokenize(text) then parse_document.
Result<ThriftDocument, ParseError> parse(std::string_view text);

}  // namespace velmora
