// Parser state shared by the grammar (parser.cpp) and default values (defaults.cpp); internal.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "parser/lexer.hpp"
#include "parser/model.hpp"
#include "parser/parser.hpp"
#include "result.hpp"

namespace velmora::detail {

class Parser {
public:
    explicit Parser(std::span<const Token> tokens) : tokens_(tokens) {}

    Result<ThriftDocument, ParseError> run();

private:
    // Cursor primitives.
    const Token* peek() const noexcept { return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr; }
    bool next_is(TokenKind kind) const noexcept { return pos_ < tokens_.size() && tokens_[pos_].kind == kind; }
    bool next_is_keyword(std::string_view word) const noexcept {
        return pos_ < tokens_.size() && tokens_[pos_].is_keyword(word);
    }
    Result<const Token*, ParseError> consume();
    Status<ParseError> expect(TokenKind kind);
    Result<std::string, ParseError> require_identifier();
    Result<std::vector<std::string>, ParseError> read_dotted_path(std::string first);
    Status<ParseError> skip_annotations();
    void skip_optional(TokenKind kind) {
        if (next_is(kind)) ++pos_;
    }

    // Definitions.
    Status<ParseError> parse_include();
    Status<ParseError> parse_namespace();
    Status<ParseError> parse_typedef();
    Status<ParseError> parse_const();
    Status<ParseError> parse_enum();
    Status<ParseError> parse_struct();
    Status<ParseError> parse_service();
    Result<ThriftMethod, ParseError> parse_method();
    Result<std::vector<ThriftField>, ParseError> parse_field_list(TokenKind close, bool comma_ends_field);
    Result<ThriftField, ParseError> parse_field(std::int64_t& next_auto_id, bool comma_ends_field);
    Result<std::optional<std::string>, ParseError> parse_extends();
    Result<ThriftType, ParseError> parse_type(std::size_t depth = 0);
    Status<ParseError> merge_struct_parent(const std::string& parent, std::vector<ThriftField>& fields);
    Status<ParseError> merge_service_parent(const std::string& parent, std::vector<ThriftMethod>& methods);
    Status<ParseError> charge_inherited(std::size_t weight);

    // Default values (defaults.cpp).
    // Converts the value at the cursor to `type`; consumes what it reads, also on failure.
    Result<ThriftValue, ParseError> convert_default(const ThriftType& type, std::size_t depth = 0);
    Result<std::int64_t, ParseError> convert_integer_default();
    // The value skipper with its first step (used for defaults of named types).
    void skip_value();
    // Recovery after a failed conversion that started at token index `start`.
    void recover_after_failed_default(std::size_t start);
    // Converts a default (field or const) and drops it after recovering when it fails.
    std::optional<ThriftValue> read_default(const ThriftType& type);

    std::span<const Token> tokens_;
    std::size_t pos_ = 0;
    ThriftDocument document_;
    // Typedefs plus every enum name seen so far (as I32). The enum values table and the known
    // structs and services tables are document_.enums, .structs and .services themselves: both
    // are updated together by every definition, so they always hold the same content.
    std::unordered_map<std::string, ThriftType> typedefs_;
    std::size_t inherited_weight_ = 0;
};

}  // namespace velmora::detail
