// Document model: exact debug renderings, variant order, deep-copy semantics.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "parser/model.hpp"

namespace velmora {
namespace {

using namespace std::string_literals;
using V = ThriftValue;
using T = ThriftType;

TEST(Model, TypeRenderings) {
    EXPECT_EQ(to_debug_string(T::base(TypeKind::I32)), "I32");
    EXPECT_EQ(to_debug_string(T()), "Bool");
    EXPECT_EQ(to_debug_string(T::set(T::base(TypeKind::I32))), "Set(I32)");
    EXPECT_EQ(to_debug_string(T::map(T::base(TypeKind::String), T::list(T::base(TypeKind::I64)))),
              "Map(String, List(I64))");
    EXPECT_EQ(to_debug_string(T::map(T::base(TypeKind::String), T::list(T::named("Point")))),
              R"(Map(String, List(Struct("Point"))))");
    EXPECT_EQ(to_debug_string(T::named("shared.Point")), R"(Struct("shared.Point"))");
    const char* names[] = {"Bool", "Byte", "I16", "I32", "I64", "Double", "String", "Binary"};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(to_debug_string(T::base(static_cast<TypeKind>(k))), names[k]);
    EXPECT_THROW((void)T::base(TypeKind::List), std::invalid_argument);
    EXPECT_THROW((void)T::base(TypeKind::I32).element_type(), std::logic_error);
}

TEST(Model, ValueRenderings) {
    EXPECT_EQ(to_debug_string(V::make_bool(true)), "Bool(true)");
    EXPECT_EQ(to_debug_string(V()), "Bool(false)");
    EXPECT_EQ(to_debug_string(V::make_byte(-128)), "Byte(-128)");
    EXPECT_EQ(to_debug_string(V::make_i16(-2)), "I16(-2)");
    EXPECT_EQ(to_debug_string(V::make_i32(3)), "I32(3)");
    EXPECT_EQ(to_debug_string(V::make_i64(std::numeric_limits<std::int64_t>::min())), "I64(-9223372036854775808)");
    EXPECT_EQ(to_debug_string(V::make_string("x\"\\\t\r\n\0\x1b\u00e9\u200b\u0301"s)), R"(String("x\"\\\t\r\n\0\u{1b}é\u{200b}\u{301}"))");
    EXPECT_EQ(to_debug_string(V::make_binary("hi")), "Binary([104, 105])");
    EXPECT_EQ(to_debug_string(V::make_binary(std::string("\xff\0", 2))), "Binary([255, 0])");
    EXPECT_EQ(to_debug_string(V::make_binary("")), "Binary([])");
    EXPECT_EQ(to_debug_string(V::make_list({V::make_i32(1), V::make_i32(2)})), "List([I32(1), I32(2)])");
    EXPECT_EQ(to_debug_string(V::make_set({})), "Set([])");
    EXPECT_EQ(to_debug_string(V::make_map({{V::make_string("a"), V::make_i32(1)}})), R"(Map([(String("a"), I32(1))]))");
    EXPECT_EQ(to_debug_string(V::make_struct("Point", {{"x", V::make_i32(1)}})),
              R"(Struct { name: Some("Point"), fields: {"x": I32(1)} })");
    EXPECT_EQ(to_debug_string(V::make_struct(std::nullopt)), "Struct { name: None, fields: {} }");
}

TEST(Model, DoubleRenderings) {
    const std::pair<double, const char*> cases[] = {
        {1.0, "Double(1.0)"}, {-2.0, "Double(-2.0)"}, {0.0, "Double(0.0)"}, {-0.0, "Double(-0.0)"},
        {1.5, "Double(1.5)"}, {0.1, "Double(0.1)"}, {0.0001, "Double(0.0001)"}, {0.00001, "Double(1e-5)"},
        {1e15, "Double(1000000000000000.0)"}, {1e16, "Double(1e16)"}, {1.5e300, "Double(1.5e300)"},
        {-2.5e-7, "Double(-2.5e-7)"}, {0.30000000000000004, "Double(0.30000000000000004)"},
        {std::numeric_limits<double>::infinity(), "Double(inf)"},
        {-std::numeric_limits<double>::infinity(), "Double(-inf)"}, {std::nan(""), "Double(NaN)"},
        {5e-324, "Double(5e-324)"}, {1.7976931348623157e308, "Double(1.7976931348623157e308)"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(to_debug_string(V::make_double(v)), text);
}

TEST(Model, FieldRendering) {
    ThriftField f{1, "x", false, T::base(TypeKind::I32), std::nullopt};
    EXPECT_EQ(to_debug_string(f), R"(ThriftField { id: 1, name: "x", required: false, field_type: I32, default_value: None })");
    f = ThriftField{-3, "na\"me", true, T::list(T::named("P")), V::make_list({V::make_struct("P")})};
    EXPECT_EQ(to_debug_string(f),
              R"(ThriftField { id: -3, name: "na\"me", required: true, field_type: List(Struct("P")), )"
              R"(default_value: Some(List([Struct { name: Some("P"), fields: {} }])) })");
}

TEST(Model, RecordRenderings) {
    ThriftMethod m{"add", {{1, "a", false, T::base(TypeKind::I32), std::nullopt}}, {}, T::named("void"), true};
    EXPECT_EQ(to_debug_string(m),
              R"(ThriftMethod { name: "add", arguments: [ThriftField { id: 1, name: "a", required: false, )"
              R"(field_type: I32, default_value: None }], exceptions: [], return_type: Struct("void"), oneway: true })");
    ThriftService s{"S", {m}};
    EXPECT_EQ(s.find_method("add"), &s.methods[0]);
    EXPECT_EQ(s.find_method("sub"), nullptr);
    EXPECT_EQ(to_debug_string(ThriftStruct{"A", {}}), R"(ThriftStruct { name: "A", fields: [] })");
    EXPECT_EQ(to_debug_string(ThriftEnum{"E", {{"A", 0}}}), R"(ThriftEnum { name: "E", values: {"A": 0} })");
    EXPECT_EQ(to_debug_string(ThriftDocument{}),
              "ThriftDocument { includes: [], structs: {}, services: {}, enums: {}, namespaces: {} }");
}

TEST(Model, VariantOrderAndAccess) {
    EXPECT_EQ(static_cast<int>(TypeKind::Struct), 11);
    EXPECT_EQ(static_cast<int>(ValueKind::Struct), 11);
    EXPECT_EQ(V::make_binary("x").kind(), ValueKind::Binary);
    EXPECT_EQ(V::make_set({}).kind(), ValueKind::Set);
    EXPECT_EQ(V::make_i16(7).as_i16(), 7);
    EXPECT_THROW((void)V::make_i16(7).as_i32(), std::bad_variant_access);
    EXPECT_THROW((void)V::make_list({}).as_set(), std::bad_variant_access);
    EXPECT_FALSE(V::make_string("a") == V::make_binary("a"));
    EXPECT_FALSE(V::make_list({}) == V::make_set({}));
    EXPECT_LE(sizeof(ThriftValue), 40u);  // scalars inline, one word of tag and padding
}

TEST(Model, CopiesAreIndependent) {
    V original = V::make_struct("P", {{"xs", V::make_list({V::make_i32(1)})}});
    V copy = original;
    copy.as_struct().fields.at("xs").as_list().push_back(V::make_i32(2));
    copy.as_struct().name = "Q";
    EXPECT_EQ(to_debug_string(original), R"(Struct { name: Some("P"), fields: {"xs": List([I32(1)])} })");
    EXPECT_EQ(to_debug_string(copy), R"(Struct { name: Some("Q"), fields: {"xs": List([I32(1), I32(2)])} })");
    V assigned;
    assigned = copy;
    EXPECT_EQ(assigned, copy);
    EXPECT_NE(assigned, original);

    ThriftDocument doc;
    doc.structs["A"] = ThriftStruct{"A", {{1, "x", false, T::base(TypeKind::I32), V::make_i32(1)}}};
    ThriftDocument doc2 = doc;
    doc2.structs["A"].fields[0].default_value = V::make_i32(2);
    EXPECT_EQ(doc.structs["A"].fields[0].default_value->as_i32(), 1);
}

TEST(Model, TypeShapeQueries) {
    T inner = T::map(T::base(TypeKind::String), T::base(TypeKind::I32));
    T outer = T::map(inner, T::list(inner));
    EXPECT_EQ(outer.depth(), 3u);
    EXPECT_EQ(outer.node_count(), 1u + 3u + 4u);
    EXPECT_EQ(outer.value_type().element_type(), inner);
    EXPECT_EQ(T::named("A"), T::named("A"));
    EXPECT_NE(T::named("A"), T::named("B"));
    EXPECT_NE(T::list(T()), T::set(T()));
}

}  // namespace
}  // namespace velmora
