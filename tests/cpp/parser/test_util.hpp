// Helpers of the schema front-end tests: parse snippets, render results in a stable order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/parser.hpp"

namespace velmora::test {

// "OK" when the text parses, else the error text shown after "Parse error: ".
inline std::string parse_outcome(std::string_view idl) {
    auto r = parse(idl);
    return r.ok() ? std::string("OK") : r.error().text();
}

inline ThriftDocument must_parse(std::string_view idl) {
    auto r = parse(idl);
    EXPECT_TRUE(r.ok()) << idl << "\n-> " << r.error().text();
    return r.ok() ? std::move(*r) : ThriftDocument{};
}

template <class Map>
std::vector<std::string> sorted_keys(const Map& map) {
    std::vector<std::string> keys;
    for (const auto& [k, v] : map) keys.push_back(k);
    std::sort(keys.begin(), keys.end());
    return keys;
}

// {"A": 0, "B": 5} with names sorted.
inline std::string render_enum_values(const ThriftEnum& e) {
    std::string out = "{";
    for (const auto& key : sorted_keys(e.values)) {
        if (out.size() > 1) out += ", ";
        append_debug_quoted(out, key);
        out += ": " + std::to_string(e.values.at(key));
    }
    return out + "}";
}

// The fields of struct `name` rendered one per line.
inline std::string render_fields(const std::vector<ThriftField>& fields) {
    std::string out;
    for (const auto& f : fields) out += to_debug_string(f) + "\n";
    return out;
}

// Debug form of a whole document with every map in sorted key order.
inline std::string render_sorted(const ThriftDocument& doc) {
    std::string out = "includes: " + [&] {
        std::string s;
        for (const auto& i : doc.includes) s += debug_quoted(i) + " ";
        return s;
    }() + "\n";
    for (const auto& k : sorted_keys(doc.namespaces)) out += "namespace " + k + " = " + doc.namespaces.at(k) + "\n";
    for (const auto& k : sorted_keys(doc.enums)) out += "enum " + k + " " + render_enum_values(doc.enums.at(k)) + "\n";
    for (const auto& k : sorted_keys(doc.structs)) {
        out += "struct " + k + "\n" + render_fields(doc.structs.at(k).fields);
    }
    for (const auto& k : sorted_keys(doc.services)) {
        out += "service " + k + "\n";
        for (const auto& m : doc.services.at(k).methods) {
            out += "  " + std::string(m.oneway ? "oneway " : "") + to_debug_string(m.return_type) + " " + m.name + "\n";
            for (const auto& a : m.arguments) out += "    arg " + to_debug_string(a) + "\n";
            for (const auto& e : m.exceptions) out += "    throws " + to_debug_string(e) + "\n";
        }
    }
    return out;
}

}  // namespace velmora::test
