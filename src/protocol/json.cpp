// JSON protocol writer (frames collected into a tree, printed when the outermost one closes)
// and reader (whole input parsed first, then walked with a frame stack).
#include "protocol/json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "protocol/base64.hpp"
#include "protocol/number_text.hpp"
#include "protocol/utf8.hpp"

namespace velmora::protocol {

namespace {

// Containers announce their size up front; room is reserved for at most this many entries
// so that a wrong announcement cannot make the writer reserve a huge block.
constexpr std::size_t kMaxReserve = 4096;

[[gnu::cold]] ProtocolError stack_underflow() { return ProtocolError::io(IoErrorKind::Other, "stack underflow"); }

// An integer's value, 0 for a non-negative integer of 2^63 or more and for non-integers.
std::int64_t int_or_zero(const JsonValue& v) noexcept { return v.to_i64().value_or(0); }

}  // namespace

std::string_view json_type_name(std::uint8_t ttype) noexcept {
    switch (ttype) {
        case TType::STOP:
        case TType::VOID: return "stop";
        case TType::BOOL: return "tf";
        case TType::BYTE: return "i8";
        case TType::DOUBLE: return "dbl";
        case TType::I16: return "i16";
        case TType::I32: return "i32";
        case TType::I64: return "i64";
        case TType::STRING: return "str";
        case TType::STRUCT: return "rec";
        case TType::MAP: return "map";
        case TType::SET: return "set";
        case TType::LIST: return "lst";
        default: return "";
    }
}

std::uint8_t json_name_to_ttype(std::string_view name) noexcept {
    static constexpr std::pair<std::string_view, std::uint8_t> kNames[] = {
        {"tf", TType::BOOL},    {"i8", TType::BYTE},   {"dbl", TType::DOUBLE}, {"i16", TType::I16},
        {"i32", TType::I32},    {"i64", TType::I64},   {"str", TType::STRING}, {"rec", TType::STRUCT},
        {"map", TType::MAP},    {"set", TType::SET},   {"lst", TType::LIST},
    };
    for (const auto& [n, t] : kNames)
        if (n == name) return t;
    return TType::UNKNOWN;
}

// ---------------------------------------------------------------------------------------------
// Writer

void JSONProtocolWriter::write_message_begin(std::string_view name, std::uint8_t message_type, std::int32_t seq_id) {
    frames_.emplace_back(MessageFrame{std::string(name), seq_id, message_type});
}

void JSONProtocolWriter::write_struct_begin() { frames_.emplace_back(StructFrame{}); }

void JSONProtocolWriter::write_field_begin(std::uint8_t type, std::int16_t id) {
    if (frames_.empty()) return;
    if (auto* s = std::get_if<StructFrame>(&frames_.back())) {
        s->pending_id = id;
        s->pending_type = type;
    }
}

void JSONProtocolWriter::write_list_begin(std::uint8_t elem_type, std::int32_t size) {
    ListFrame f{{}, elem_type};
    f.items.reserve(2 + std::min<std::size_t>(size > 0 ? static_cast<std::size_t>(size) : 0, kMaxReserve));
    f.items.resize(2);
    frames_.emplace_back(std::move(f));
}

void JSONProtocolWriter::write_map_begin(std::uint8_t key_type, std::uint8_t value_type, std::int32_t size) {
    MapFrame f{{}, std::nullopt, key_type, value_type};
    f.pairs.reserve(std::min<std::size_t>(size > 0 ? static_cast<std::size_t>(size) : 0, kMaxReserve));
    frames_.emplace_back(std::move(f));
}

ProtocolResult<JSONProtocolWriter::WriteFrame> JSONProtocolWriter::pop_frame() {
    if (frames_.empty()) return Err{stack_underflow()};
    WriteFrame f = std::move(frames_.back());
    frames_.pop_back();
    return f;
}

ProtocolStatus JSONProtocolWriter::write_struct_end() {
    auto f = pop_frame();
    if (!f) return Err{std::move(f).error()};
    push_value(frame_to_value(std::move(f).value()));
    return Unit{};
}

ProtocolStatus JSONProtocolWriter::write_list_end() { return write_struct_end(); }
ProtocolStatus JSONProtocolWriter::write_map_end() { return write_struct_end(); }

ProtocolStatus JSONProtocolWriter::write_message_end() {
    if (frames_.size() < 2) return Err{stack_underflow()};
    auto body = pop_frame();
    auto outer = pop_frame();
    if (auto* m = std::get_if<MessageFrame>(&outer.value())) {
        JsonArray items;
        items.reserve(5);
        items.push_back(JsonValue::unsigned_integer(1));
        items.push_back(JsonValue::string(std::move(m->name)));
        items.push_back(JsonValue::unsigned_integer(m->message_type));
        items.push_back(JsonValue::integer(m->seq_id));
        items.push_back(frame_to_value(std::move(body).value()));
        print(JsonValue::array(std::move(items)));
    }
    return Unit{};
}

void JSONProtocolWriter::write_i64(std::int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    push_value(JsonValue::string(std::string(buf, r.ptr)));
}

void JSONProtocolWriter::write_double(double v) {
    push_value(std::isfinite(v) ? JsonValue::number(v) : JsonValue::unsigned_integer(0));
}

void JSONProtocolWriter::write_binary(std::span<const std::uint8_t> b) { push_value(JsonValue::string(base64_encode(b))); }

void JSONProtocolWriter::push_value(JsonValue v) {
    if (frames_.empty()) {
        print(v);
        return;
    }
    std::visit(
        [&](auto& f) {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, StructFrame>) {
                if (f.pending_type == TType::UNKNOWN) return;  // no field announced: dropped
                JsonArray entry;
                entry.reserve(2);
                entry.push_back(JsonValue::string(std::string(json_type_name(f.pending_type))));
                entry.push_back(std::move(v));
                f.fields.push_back(JsonMember{std::to_string(f.pending_id), JsonValue::array(std::move(entry))});
                f.pending_type = TType::UNKNOWN;
            } else if constexpr (std::is_same_v<F, ListFrame>) {
                f.items.push_back(std::move(v));
            } else if constexpr (std::is_same_v<F, MapFrame>) {
                if (!f.pending_key) {
                    f.pending_key = std::move(v);
                } else {
                    f.pairs.emplace_back(std::move(*f.pending_key), std::move(v));
                    f.pending_key.reset();
                }
            }
            // A Message frame takes no values.
        },
        frames_.back());
}

JsonValue JSONProtocolWriter::frame_to_value(WriteFrame&& frame) {
    return std::visit(
        [](auto&& f) -> JsonValue {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, StructFrame>) {
                sort_members(f.fields);
                return JsonValue::object(std::move(f.fields));
            } else if constexpr (std::is_same_v<F, ListFrame>) {
                f.items[0] = JsonValue::string(std::string(json_type_name(f.elem_type)));
                f.items[1] = JsonValue::unsigned_integer(f.items.size() - 2);
                return JsonValue::array(std::move(f.items));
            } else if constexpr (std::is_same_v<F, MapFrame>) {
                // Keys become object-key text; equal texts collapse to the last entry written.
                JsonObject entries;
                entries.reserve(f.pairs.size());
                for (auto& [k, v] : f.pairs) entries.push_back(JsonMember{json_key_text(k), std::move(v)});
                sort_members(entries);
                JsonArray items;
                items.reserve(4);
                items.push_back(JsonValue::string(std::string(json_type_name(f.key_type))));
                items.push_back(JsonValue::string(std::string(json_type_name(f.value_type))));
                items.push_back(JsonValue::unsigned_integer(entries.size()));
                items.push_back(JsonValue::object(std::move(entries)));
                return JsonValue::array(std::move(items));
            } else {
                JsonArray items;
                items.reserve(4);
                items.push_back(JsonValue::unsigned_integer(1));
                items.push_back(JsonValue::string(std::move(f.name)));
                items.push_back(JsonValue::unsigned_integer(f.message_type));
                items.push_back(JsonValue::integer(f.seq_id));
                return JsonValue::array(std::move(items));
            }
        },
        std::move(frame));
}

void JSONProtocolWriter::print(const JsonValue& v) {
    std::string text;
    append_json(text, v);
    out_.insert(out_.end(), text.begin(), text.end());
}

// ---------------------------------------------------------------------------------------------
// Reader

ProtocolStatus JSONProtocolReader::ensure_parsed() {
    if (root_ || root_taken_) return Unit{};
    const auto rest = input_.subspan(pos_);
    pos_ = input_.size();
    if (validate_utf8(rest))
        return Err{ProtocolError::io(IoErrorKind::InvalidData, "stream did not contain valid UTF-8")};
    auto doc = parse_json(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
    if (!doc) return Err{ProtocolError::io(IoErrorKind::InvalidData, std::move(doc.error().message))};
    root_.emplace(std::move(doc).value());
    return Unit{};
}

ProtocolResult<const JsonValue*> JSONProtocolReader::pop_scalar() {
    if (frames_.empty()) {
        auto parsed = ensure_parsed();
        if (!parsed) return Err{std::move(parsed).error()};
        if (root_taken_) return Err{ProtocolError::invalid_field_type()};
        root_taken_ = true;
        return &*root_;
    }
    auto& frame = frames_.back();
    if (auto* s = std::get_if<StructRead>(&frame)) {
        if (!s->pending) return Err{ProtocolError::invalid_field_type()};
        return std::exchange(s->pending, nullptr);
    }
    if (auto* l = std::get_if<ListRead>(&frame)) {
        if (l->next >= l->items->size()) return Err{ProtocolError::invalid_field_type()};
        return &(*l->items)[l->next++];
    }
    auto& m = std::get<MapRead>(frame);
    if (m.index >= m.entries->size()) return Err{ProtocolError::invalid_field_type()};
    if (!m.value_next) {
        m.value_next = true;
        return map_key(m);
    }
    m.value_next = false;
    return &(*m.entries)[m.index++].value;
}

// Map keys arrive as object-key text and are turned back into values by the key type:
// small integers and booleans here, everything else as text for the scalar reads to parse.
const JsonValue* JSONProtocolReader::map_key(const MapRead& m) {
    const std::string& text = (*m.entries)[m.index].key;
    switch (m.key_type) {
        case TType::BYTE:
        case TType::I16:
        case TType::I32: key_scratch_ = JsonValue::integer(parse_i64_text(text).value_or(0)); break;
        case TType::BOOL: key_scratch_ = JsonValue::unsigned_integer(text == "1" || text == "true" ? 1 : 0); break;
        default:
            if (key_scratch_.is_string())
                key_scratch_.as_string().assign(text);
            else
                key_scratch_ = JsonValue::string(text);
    }
    return &key_scratch_;
}

void JSONProtocolReader::pop_frame() noexcept {
    if (!frames_.empty()) frames_.pop_back();
    depth_.leave();
}

std::size_t JSONProtocolReader::reserve_hint(std::int32_t size) const noexcept {
    if (size <= 0 || frames_.empty()) return 0;
    std::size_t left = 0;
    if (const auto* l = std::get_if<ListRead>(&frames_.back()))
        left = l->items->size() - std::min(l->next, l->items->size());
    else if (const auto* m = std::get_if<MapRead>(&frames_.back()))
        left = m->entries->size() - std::min(m->index, m->entries->size());
    return std::min(static_cast<std::size_t>(size), left);
}

ProtocolResult<MessageHeader> JSONProtocolReader::read_message_begin() {
    auto parsed = ensure_parsed();
    if (!parsed) return Err{std::move(parsed).error()};
    if (root_taken_ || !root_->is_array()) return Err{ProtocolError::invalid_field_type()};
    const JsonArray& a = root_->as_array();
    if (a.size() < 5) return Err{ProtocolError::io(IoErrorKind::InvalidData, "JSON message array too short")};
    MessageHeader h;
    if (a[1].is_string()) h.name = a[1].as_string();
    h.message_type = a[2].kind() == JsonValue::Kind::UInt ? static_cast<std::uint8_t>(a[2].as_uint()) : 1;
    h.seq_id = static_cast<std::int32_t>(int_or_zero(a[3]));
    if (a[4].is_object()) frames_.emplace_back(StructRead{&a[4].as_object(), 0, nullptr});
    return h;
}

ProtocolStatus JSONProtocolReader::read_struct_begin() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    if (!(*v)->is_object()) return Err{ProtocolError::invalid_field_type()};
    auto entered = depth_.enter();
    if (!entered) return entered;
    frames_.emplace_back(StructRead{&(*v)->as_object(), 0, nullptr});
    return Unit{};
}

ProtocolResult<FieldHeader> JSONProtocolReader::read_field_begin() {
    if (frames_.empty()) return FieldHeader{TType::STOP, 0};
    auto* s = std::get_if<StructRead>(&frames_.back());
    if (!s || s->next >= s->members->size()) return FieldHeader{TType::STOP, 0};
    const JsonMember& m = (*s->members)[s->next++];
    const std::int16_t id = parse_i16_text(m.key).value_or(0);
    if (!m.value.is_array() || m.value.as_array().size() < 2) return Err{ProtocolError::invalid_field_type()};
    const JsonArray& entry = m.value.as_array();
    const std::uint8_t type = entry[0].is_string() ? json_name_to_ttype(entry[0].as_string()) : TType::UNKNOWN;
    if (type == TType::UNKNOWN) return Err{ProtocolError::invalid_field_type()};
    s->pending = &entry[1];
    return FieldHeader{type, id};
}

ProtocolResult<ListHeader> JSONProtocolReader::read_list_begin() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    const JsonValue& list = **v;
    if (!list.is_array() || list.as_array().size() < 2) return Err{ProtocolError::invalid_field_type()};
    const JsonArray& a = list.as_array();
    const std::uint8_t type = a[0].is_string() ? json_name_to_ttype(a[0].as_string()) : TType::UNKNOWN;
    if (type == TType::UNKNOWN) return Err{ProtocolError::invalid_field_type()};
    auto entered = depth_.enter();
    if (!entered) return Err{std::move(entered).error()};
    frames_.emplace_back(ListRead{&a, 2, type});
    return ListHeader{type, static_cast<std::int32_t>(int_or_zero(a[1]))};
}

ProtocolResult<MapHeader> JSONProtocolReader::read_map_begin() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    const JsonValue& map = **v;
    if (!map.is_array() || map.as_array().size() < 4) return Err{ProtocolError::invalid_field_type()};
    const JsonArray& a = map.as_array();
    const std::uint8_t kt = a[0].is_string() ? json_name_to_ttype(a[0].as_string()) : TType::UNKNOWN;
    const std::uint8_t vt = a[1].is_string() ? json_name_to_ttype(a[1].as_string()) : TType::UNKNOWN;
    if (kt == TType::UNKNOWN || vt == TType::UNKNOWN || !a[3].is_object())
        return Err{ProtocolError::invalid_field_type()};
    auto entered = depth_.enter();
    if (!entered) return Err{std::move(entered).error()};
    frames_.emplace_back(MapRead{&a[3].as_object(), 0, false, kt, vt});
    return MapHeader{kt, vt, static_cast<std::int32_t>(int_or_zero(a[2]))};
}

ProtocolResult<bool> JSONProtocolReader::read_bool() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    const JsonValue& j = **v;
    switch (j.kind()) {
        case JsonValue::Kind::Bool: return j.as_bool();
        case JsonValue::Kind::UInt: return j.as_uint() != 0;
        case JsonValue::Kind::Int: return true;  // Int holds only negative values
        default: return false;
    }
}

ProtocolResult<std::int8_t> JSONProtocolReader::read_byte() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    return static_cast<std::int8_t>(int_or_zero(**v));
}

ProtocolResult<std::int16_t> JSONProtocolReader::read_i16() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    return static_cast<std::int16_t>(int_or_zero(**v));
}

ProtocolResult<std::int32_t> JSONProtocolReader::read_i32() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    return static_cast<std::int32_t>(int_or_zero(**v));
}

ProtocolResult<std::int64_t> JSONProtocolReader::read_i64() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    const JsonValue& j = **v;
    if (j.is_string()) return parse_i64_text(j.as_string()).value_or(0);
    return int_or_zero(j);
}

ProtocolResult<double> JSONProtocolReader::read_double() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    const JsonValue& j = **v;
    if (j.is_string()) return parse_f64_text(j.as_string()).value_or(0.0);
    return j.to_f64().value_or(0.0);
}

ProtocolResult<std::string_view> JSONProtocolReader::read_string() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    if (!(*v)->is_string()) return std::string_view();
    return std::string_view((*v)->as_string());
}

ProtocolResult<std::span<const std::uint8_t>> JSONProtocolReader::read_binary() {
    auto v = pop_scalar();
    if (!v) return Err{std::move(v).error()};
    binary_scratch_.clear();
    if ((*v)->is_string()) {
        auto decoded = base64_decode((*v)->as_string(), binary_scratch_);
        if (!decoded) return Err{ProtocolError::io(IoErrorKind::InvalidData, std::move(decoded.error().message))};
    }
    return std::span<const std::uint8_t>(binary_scratch_);
}

}  // namespace velmora::protocol
