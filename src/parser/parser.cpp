// IDL parser: recursive descent over the token list with one token of look-ahead.
#include "parser/parser.hpp"

#include <string>
#include <string_view>
#include <unordered_set>

#include "parser/parser_impl.hpp"

namespace velmora {

namespace detail {

namespace {

std::string join_path(const std::vector<std::string>& parts) {
    std::string joined;
    for (const auto& part : parts) {
        if (&part != &parts.front()) joined += '.';
        joined += part;
    }
    return joined;
}

std::int16_t low_16_bits(std::int64_t v) noexcept {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(v)));
}

// What copying these fields costs: one per field plus the nodes of its default.
std::size_t fields_weight(const std::vector<ThriftField>& fields) noexcept {
    std::size_t weight = fields.size();
    for (const auto& f : fields)
        if (f.default_value) weight += value_node_count(*f.default_value);
    return weight;
}

ParseError type_too_deep() {
    return ParseError::syntax("Type nesting too deep (more than " + std::to_string(kMaxTypeDepth) + " levels)");
}

std::optional<ThriftType> base_type(std::string_view name) {
    if (name == "bool") return ThriftType::base(TypeKind::Bool);
    if (name == "byte" || name == "i8") return ThriftType::base(TypeKind::Byte);
    if (name == "i16") return ThriftType::base(TypeKind::I16);
    if (name == "i32") return ThriftType::base(TypeKind::I32);
    if (name == "i64") return ThriftType::base(TypeKind::I64);
    if (name == "double") return ThriftType::base(TypeKind::Double);
    if (name == "string") return ThriftType::base(TypeKind::String);
    if (name == "binary") return ThriftType::base(TypeKind::Binary);
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Cursor primitives

Result<const Token*, ParseError> Parser::consume() {
    if (pos_ >= tokens_.size()) return Err{ParseError::unexpected_eof()};
    return &tokens_[pos_++];
}

Status<ParseError> Parser::expect(TokenKind kind) {
    auto t = consume();
    if (!t.ok()) return Err{std::move(t).error()};
    if ((*t)->kind != kind) return Err{ParseError::unexpected_token(**t)};
    return Unit{};
}

Result<std::string, ParseError> Parser::require_identifier() {
    auto t = consume();
    if (!t.ok()) return Err{std::move(t).error()};
    if ((*t)->kind != TokenKind::Identifier) return Err{ParseError::unexpected_token(**t)};
    return (*t)->text;
}

Result<std::vector<std::string>, ParseError> Parser::read_dotted_path(std::string first) {
    std::vector<std::string> parts;
    parts.push_back(std::move(first));
    while (next_is(TokenKind::Dot)) {
        ++pos_;
        auto t = consume();
        if (!t.ok()) return Err{std::move(t).error()};
        if ((*t)->kind != TokenKind::Keyword && (*t)->kind != TokenKind::Identifier)
            return Err{ParseError::unexpected_token(**t)};
        parts.push_back((*t)->text);
    }
    return parts;
}

Status<ParseError> Parser::skip_annotations() {
    while (next_is(TokenKind::LeftParen)) {
        ++pos_;
        std::size_t depth = 1;
        while (depth > 0) {
            auto t = consume();
            if (!t.ok()) return Err{std::move(t).error()};
            if ((*t)->kind == TokenKind::LeftParen) ++depth;
            if ((*t)->kind == TokenKind::RightParen) --depth;
        }
    }
    return Unit{};
}

// ---------------------------------------------------------------------------------------------
// Document

Result<ThriftDocument, ParseError> Parser::run() {
    while (pos_ < tokens_.size()) {
        const Token& t = tokens_[pos_];
        if (t.kind != TokenKind::Keyword) {
            ++pos_;
            continue;
        }
        const std::string_view word = t.text;
        if (word == "include") {
            VELMORA_TRY(parse_include());
        } else if (word == "namespace") {
            VELMORA_TRY(parse_namespace());
        } else if (word == "typedef") {
            VELMORA_TRY(parse_typedef());
        } else if (word == "const") {
            VELMORA_TRY(parse_const());
        } else if (word == "enum") {
            VELMORA_TRY(parse_enum());
        } else if (word == "struct" || word == "union" || word == "exception") {
            VELMORA_TRY(parse_struct());
        } else if (word == "service") {
            VELMORA_TRY(parse_service());
        } else {
            ++pos_;  // required, optional, oneway, throws, extends at top level
        }
    }
    return std::move(document_);
}

Status<ParseError> Parser::parse_include() {
    ++pos_;
    auto t = consume();
    if (!t.ok()) return Err{std::move(t).error()};
    if ((*t)->kind != TokenKind::String) return Err{ParseError::unexpected_token(**t)};
    document_.includes.push_back((*t)->text);
    skip_optional(TokenKind::Semicolon);
    return Unit{};
}

Status<ParseError> Parser::parse_namespace() {
    ++pos_;
    auto scope_token = consume();
    if (!scope_token.ok()) return Err{std::move(scope_token).error()};
    std::string scope;
    switch ((*scope_token)->kind) {
        case TokenKind::Keyword:
        case TokenKind::Identifier: scope = (*scope_token)->text; break;
        case TokenKind::Asterisk: scope = "*"; break;
        default: return Err{ParseError::unexpected_token(**scope_token)};
    }
    auto target_token = consume();
    if (!target_token.ok()) return Err{std::move(target_token).error()};
    const TokenKind kind = (*target_token)->kind;
    if (kind != TokenKind::Keyword && kind != TokenKind::Identifier && kind != TokenKind::String)
        return Err{ParseError::unexpected_token(**target_token)};
    auto parts = read_dotted_path((*target_token)->text);
    if (!parts.ok()) return Err{std::move(parts).error()};
    document_.namespaces.insert_or_assign(std::move(scope), join_path(*parts));
    skip_optional(TokenKind::Semicolon);
    return Unit{};
}

Status<ParseError> Parser::parse_typedef() {
    ++pos_;
    auto type = parse_type();
    if (!type.ok()) return Err{std::move(type).error()};
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    VELMORA_TRY(skip_annotations());
    typedefs_.insert_or_assign(std::move(*name), std::move(*type));
    skip_optional(TokenKind::Semicolon);
    return Unit{};
}

Status<ParseError> Parser::parse_const() {
    ++pos_;
    auto type = parse_type();
    if (!type.ok()) return Err{std::move(type).error()};
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    if (next_is(TokenKind::Equal)) {
        ++pos_;
        (void)read_default(*type);  // constants are parsed and dropped
    }
    skip_optional(TokenKind::Semicolon);
    return Unit{};
}

Status<ParseError> Parser::parse_enum() {
    ++pos_;
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    VELMORA_TRY(expect(TokenKind::LeftBrace));
    std::unordered_map<std::string, std::int32_t> values;
    std::int32_t next_value = 0;
    while (pos_ < tokens_.size() && !next_is(TokenKind::RightBrace)) {
        const Token& t = tokens_[pos_++];
        if (t.kind == TokenKind::Comma || t.kind == TokenKind::Semicolon) continue;
        if (t.kind != TokenKind::Identifier) return Err{ParseError::unexpected_token(t)};
        if (next_is(TokenKind::Equal)) {
            ++pos_;
            auto v = consume();
            if (!v.ok()) return Err{std::move(v).error()};
            if ((*v)->kind != TokenKind::Number) return Err{ParseError::unexpected_token(**v)};
            next_value = static_cast<std::int32_t>(static_cast<std::uint32_t>((*v)->integer));
        }
        VELMORA_TRY(skip_annotations());
        values.insert_or_assign(t.text, next_value);
        if (next_is(TokenKind::Comma) || next_is(TokenKind::Semicolon)) ++pos_;
        next_value = static_cast<std::int32_t>(static_cast<std::uint32_t>(next_value) + 1u);
    }
    VELMORA_TRY(expect(TokenKind::RightBrace));
    VELMORA_TRY(skip_annotations());
    skip_optional(TokenKind::Semicolon);
    typedefs_.insert_or_assign(*name, ThriftType::base(TypeKind::I32));
    ThriftEnum& e = document_.enums[*name];
    e.name = std::move(*name);
    e.values = std::move(values);
    return Unit{};
}

Status<ParseError> Parser::parse_struct() {
    ++pos_;
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    auto parent = parse_extends();
    if (!parent.ok()) return Err{std::move(parent).error()};
    VELMORA_TRY(skip_annotations());
    VELMORA_TRY(expect(TokenKind::LeftBrace));
    auto fields = parse_field_list(TokenKind::RightBrace, true);
    if (!fields.ok()) return Err{std::move(fields).error()};
    VELMORA_TRY(expect(TokenKind::RightBrace));
    VELMORA_TRY(skip_annotations());
    if (*parent) VELMORA_TRY(merge_struct_parent(**parent, *fields));
    ThriftStruct& s = document_.structs[*name];
    s.name = std::move(*name);
    s.fields = std::move(*fields);
    return Unit{};
}

Status<ParseError> Parser::parse_service() {
    ++pos_;
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    auto parent = parse_extends();
    if (!parent.ok()) return Err{std::move(parent).error()};
    VELMORA_TRY(skip_annotations());
    VELMORA_TRY(expect(TokenKind::LeftBrace));
    std::vector<ThriftMethod> methods;
    while (pos_ < tokens_.size() && !next_is(TokenKind::RightBrace)) {
        auto method = parse_method();
        if (!method.ok()) return Err{std::move(method).error()};
        methods.push_back(std::move(*method));
    }
    VELMORA_TRY(expect(TokenKind::RightBrace));
    VELMORA_TRY(skip_annotations());
    if (*parent) VELMORA_TRY(merge_service_parent(**parent, methods));
    ThriftService& s = document_.services[*name];
    s.name = std::move(*name);
    s.methods = std::move(methods);
    return Unit{};
}

Result<ThriftMethod, ParseError> Parser::parse_method() {
    ThriftMethod method;
    if (next_is_keyword("oneway")) {
        ++pos_;
        method.oneway = true;
    }
    auto return_type = parse_type();
    if (!return_type.ok()) return Err{std::move(return_type).error()};
    method.return_type = std::move(*return_type);
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    method.name = std::move(*name);
    VELMORA_TRY(expect(TokenKind::LeftParen));
    auto arguments = parse_field_list(TokenKind::RightParen, false);
    if (!arguments.ok()) return Err{std::move(arguments).error()};
    method.arguments = std::move(*arguments);
    VELMORA_TRY(expect(TokenKind::RightParen));
    if (next_is_keyword("throws")) {
        ++pos_;
        VELMORA_TRY(expect(TokenKind::LeftParen));
        auto exceptions = parse_field_list(TokenKind::RightParen, false);
        if (!exceptions.ok()) return Err{std::move(exceptions).error()};
        method.exceptions = std::move(*exceptions);
        VELMORA_TRY(expect(TokenKind::RightParen));
    }
    VELMORA_TRY(skip_annotations());
    if (next_is(TokenKind::Comma) || next_is(TokenKind::Semicolon)) ++pos_;
    return method;
}

// Fields up to (not including) `close`. In argument and throws lists (comma_ends_field false)
// the list consumes one comma after each field; in struct bodies the field itself does.
Result<std::vector<ThriftField>, ParseError> Parser::parse_field_list(TokenKind close, bool comma_ends_field) {
    std::vector<ThriftField> fields;
    std::int64_t next_auto_id = -1;
    while (pos_ < tokens_.size() && !next_is(close)) {
        auto field = parse_field(next_auto_id, comma_ends_field);
        if (!field.ok()) return Err{std::move(field).error()};
        fields.push_back(std::move(*field));
        if (!comma_ends_field) skip_optional(TokenKind::Comma);
    }
    return fields;
}

Result<ThriftField, ParseError> Parser::parse_field(std::int64_t& next_auto_id, bool comma_ends_field) {
    ThriftField field;
    if (next_is(TokenKind::Number)) {
        field.id = low_16_bits(tokens_[pos_++].integer);
        VELMORA_TRY(expect(TokenKind::Colon));
    } else {
        // No id: the reference compiler's automatic ids -1, -2, ... per field list.
        field.id = low_16_bits(next_auto_id--);
    }
    if (next_is_keyword("required")) {
        ++pos_;
        field.required = true;
    } else if (next_is_keyword("optional")) {
        ++pos_;
    }
    auto type = parse_type();
    if (!type.ok()) return Err{std::move(type).error()};
    field.field_type = std::move(*type);
    VELMORA_TRY(skip_annotations());
    skip_optional(TokenKind::Ampersand);  // C++ reference marker: `1: RecList & next`
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    field.name = std::move(*name);
    if (next_is(TokenKind::Equal)) {
        ++pos_;
        field.default_value = read_default(field.field_type);
    }
    VELMORA_TRY(skip_annotations());
    if (next_is(TokenKind::Semicolon) || (comma_ends_field && next_is(TokenKind::Comma))) ++pos_;
    return field;
}

Result<std::optional<std::string>, ParseError> Parser::parse_extends() {
    if (!next_is_keyword("extends")) return std::optional<std::string>();
    ++pos_;
    auto t = consume();
    if (!t.ok()) return Err{std::move(t).error()};
    if ((*t)->kind != TokenKind::Keyword && (*t)->kind != TokenKind::Identifier)
        return Err{ParseError::unexpected_token(**t)};
    auto parts = read_dotted_path((*t)->text);
    if (!parts.ok()) return Err{std::move(parts).error()};
    return std::optional<std::string>(std::move(parts->back()));
}

Result<ThriftType, ParseError> Parser::parse_type(std::size_t depth) {
    if (depth > kMaxTypeDepth) return Err{type_too_deep()};
    auto name = require_identifier();
    if (!name.ok()) return Err{std::move(name).error()};
    ThriftType type;
    if (auto base = base_type(*name)) {
        type = std::move(*base);
    } else if (*name == "list" || *name == "set") {
        VELMORA_TRY(expect(TokenKind::LessThan));
        auto element = parse_type(depth + 1);
        if (!element.ok()) return Err{std::move(element).error()};
        VELMORA_TRY(expect(TokenKind::GreaterThan));
        type = *name == "list" ? ThriftType::list(std::move(*element)) : ThriftType::set(std::move(*element));
    } else if (*name == "map") {
        VELMORA_TRY(expect(TokenKind::LessThan));
        auto key = parse_type(depth + 1);
        if (!key.ok()) return Err{std::move(key).error()};
        VELMORA_TRY(expect(TokenKind::Comma));
        auto value = parse_type(depth + 1);
        if (!value.ok()) return Err{std::move(value).error()};
        VELMORA_TRY(expect(TokenKind::GreaterThan));
        type = ThriftType::map(std::move(*key), std::move(*value));
    } else {
        auto parts = read_dotted_path(std::move(*name));
        if (!parts.ok()) return Err{std::move(parts).error()};
        std::string joined = join_path(*parts);
        auto found = typedefs_.find(joined);
        if (found == typedefs_.end() && parts->size() > 1) found = typedefs_.find(parts->back());
        type = found != typedefs_.end() ? found->second : ThriftType::named(std::move(joined));
    }
    if (type.depth() > kMaxTypeDepth) return Err{type_too_deep()};
    if (type.node_count() > kMaxTypeNodes)
        return Err{ParseError::syntax("Type expression too large (more than " + std::to_string(kMaxTypeNodes) + " nodes)")};
    VELMORA_TRY(skip_annotations());  // also inside type arguments: list<i32 (a = "b")>
    return type;
}

// ---------------------------------------------------------------------------------------------
// Inheritance

Status<ParseError> Parser::charge_inherited(std::size_t weight) {
    inherited_weight_ += weight;
    if (inherited_weight_ > kMaxInheritedWeight)
        return Err{ParseError::syntax("Inherited definitions too large (more than " + std::to_string(kMaxInheritedWeight) +
                                      " copied fields and methods)")};
    return Unit{};
}

Status<ParseError> Parser::merge_struct_parent(const std::string& parent, std::vector<ThriftField>& fields) {
    const auto found = document_.structs.find(parent);
    if (found == document_.structs.end()) return Err{ParseError::syntax("Unknown parent struct: " + parent)};
    const std::vector<ThriftField>& inherited = found->second.fields;
    VELMORA_TRY(charge_inherited(fields_weight(inherited)));
    std::vector<ThriftField> merged;
    merged.reserve(inherited.size() + fields.size());
    std::unordered_set<std::int16_t> ids;
    std::unordered_set<std::string_view> names;
    for (const auto& f : inherited) {
        merged.push_back(f);
        ids.insert(f.id);
        names.insert(merged.back().name);  // merged never reallocates: reserved above
    }
    for (auto& f : fields) {
        if (ids.count(f.id) || names.count(f.name))
            return Err{ParseError::syntax("Duplicate inherited field '" + f.name + "' in extends " + parent)};
        merged.push_back(std::move(f));
        ids.insert(merged.back().id);
        names.insert(merged.back().name);
    }
    fields = std::move(merged);
    return Unit{};
}

Status<ParseError> Parser::merge_service_parent(const std::string& parent, std::vector<ThriftMethod>& methods) {
    const auto found = document_.services.find(parent);
    if (found == document_.services.end()) return Err{ParseError::syntax("Unknown parent service: " + parent)};
    const std::vector<ThriftMethod>& inherited = found->second.methods;
    std::size_t weight = inherited.size();
    for (const auto& m : inherited) weight += fields_weight(m.arguments) + fields_weight(m.exceptions);
    VELMORA_TRY(charge_inherited(weight));
    std::vector<ThriftMethod> merged;
    merged.reserve(inherited.size() + methods.size());
    std::unordered_set<std::string_view> names;
    for (const auto& m : inherited) {
        merged.push_back(m);
        names.insert(merged.back().name);
    }
    for (auto& m : methods) {
        if (names.count(m.name))
            return Err{ParseError::syntax("Duplicate inherited method '" + m.name + "' in extends " + parent)};
        merged.push_back(std::move(m));
        names.insert(merged.back().name);
    }
    methods = std::move(merged);
    return Unit{};
}

}  // namespace detail

Result<ThriftDocument, ParseError> parse_document(std::span<const Token> tokens) {
    return detail::Parser(tokens).run();
}

Result<ThriftDocument, ParseError> parse(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens.ok()) return Err{std::move(tokens).error()};
    return parse_document(*tokens);
}

}  // namespace velmora
