// Parser: tables of IDL snippets with their exact results or error texts: the grammar's edge
// cases, the real-world constructs it accepts, default values and the robustness limits.
#include <gtest/gtest.h>

#include <string>

#include "parser/parser.hpp"
#include "test_util.hpp"

namespace velmora {
namespace {

using test::must_parse;
using test::parse_outcome;
using test::render_enum_values;
using test::render_fields;

struct Case {
    std::string idl;
    std::string expected;
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.idl.substr(0, 200); }
};

std::string F(int id, const char* name, const char* type, const char* default_value = "None", bool required = false) {
    std::string d = default_value;
    if (d != "None") d = "Some(" + d + ")";
    return "ThriftField { id: " + std::to_string(id) + ", name: \"" + name + "\", required: " +
           (required ? "true" : "false") + ", field_type: " + type + ", default_value: " + d + " }\n";
}

// The fields of struct A, one rendering per line, or the error text.
std::string fields_of_a(std::string_view idl) {
    auto r = parse(idl);
    if (!r.ok()) return "error: " + r.error().text();
    const auto it = r->structs.find("A");
    if (it == r->structs.end()) return "no struct A";
    return render_fields(it->second.fields);
}

// ---------------------------------------------------------------------------------------------
// Errors: the whole parse fails with exactly this text (after "Parse error: ").

class ErrorTable : public ::testing::TestWithParam<Case> {};
TEST_P(ErrorTable, Outcome) { EXPECT_EQ(parse_outcome(GetParam().idl), GetParam().expected) << GetParam().idl; }

std::string nested_list(int levels, const char* inner = "i32") {
    std::string t;
    for (int i = 0; i < levels; ++i) t += "list<";
    return t + inner + std::string(static_cast<std::size_t>(levels), '>');
}

INSTANTIATE_TEST_SUITE_P(Grammar, ErrorTable, ::testing::Values(
    Case{"", "OK"},
    Case{"  // only a comment", "OK"},
    Case{"strcut A { 1: i32 x }", "OK"},
    Case{"foo bar & baz ; , 12 \"x\" ( ) required optional oneway throws extends cpp_include \"a\"", "OK"},
    Case{"struct A { 1 i32 x }", R"(Unexpected token: Identifier("i32"))"},
    Case{"struct A { 1: i32 a,, 2: i32 b }", "Unexpected token: Comma"},
    Case{"struct A { 1: i32 x;; }", "Unexpected token: Semicolon"},
    Case{"struct A { 1: i32 service }", R"(Unexpected token: Keyword("service"))"},
    Case{"struct A { 1: required required i32 x }", R"(Unexpected token: Keyword("required"))"},
    Case{"struct A { 1: i32 x", "End of input"},
    Case{"struct A { 1: i32 x (a = \"b\" }", "End of input"},
    Case{"struct A", "End of input"},
    Case{"struct { }", "Unexpected token: LeftBrace"},
    Case{"struct A { 1: list<i32 x }", R"(Unexpected token: Identifier("x"))"},
    Case{"struct A { 1: map<i32> x }", "Unexpected token: GreaterThan"},
    Case{"struct A { 1: i32 & & x }", "Unexpected token: Ampersand"},
    Case{"typedef i32 & X", "Unexpected token: Ampersand"},
    Case{"struct A { 1: i32 x = [1, }", "End of input"},
    Case{"struct A { 1: string s = \"x }", R"(Syntax error: Unexpected input: "\"x }")"},
    Case{"struct A { 1: i32 x } struct B extends A { 1: i32 y }", "Syntax error: Duplicate inherited field 'y' in extends A"},
    Case{"struct A { 1: i32 x } struct B extends A { 2: i32 x }", "Syntax error: Duplicate inherited field 'x' in extends A"},
    Case{"struct A { 1: i32 x } struct B extends A { 2: i32 y; 2: i32 z }",
         "Syntax error: Duplicate inherited field 'z' in extends A"},
    Case{"struct B extends shared.A {}", "Syntax error: Unknown parent struct: A"},
    Case{"struct B extends B {}", "Syntax error: Unknown parent struct: B"},
    Case{"struct B extends 5 {}", "Unexpected token: Number(5)"},
    Case{"service S extends T {}", "Syntax error: Unknown parent service: T"},
    Case{"service T { void a() } service S extends T { i32 a() }", "Syntax error: Duplicate inherited method 'a' in extends T"},
    Case{"service S { void f(1: i32 a b) }", "Unexpected token: RightParen"},
    Case{"service S { void f() throws 1 }", "Unexpected token: Number(1)"},
    Case{"service S { oneway }", "Unexpected token: RightBrace"},
    Case{"service S { void f(", "End of input"},
    Case{"include foo", R"(Unexpected token: Identifier("foo"))"},
    Case{"include", "End of input"},
    Case{"namespace 5 x", "Unexpected token: Number(5)"},
    Case{"namespace py 5", "Unexpected token: Number(5)"},
    Case{"namespace py a.", "End of input"},
    Case{"namespace py a.5", "Unexpected token: Number(5)"},
    Case{"namespace py.twisted X", "Unexpected token: Dot"},
    Case{"enum E { A = x }", R"(Unexpected token: Identifier("x"))"},
    Case{"enum E { A = 1.5 }", "Unexpected token: Float(1.5)"},
    Case{"enum E { 5 }", "Unexpected token: Number(5)"},
    Case{"enum E { struct }", R"(Unexpected token: Keyword("struct"))"},
    Case{"enum E { A", "End of input"},
    Case{"typedef i32", "End of input"},
    Case{"const i32 = 5", "Unexpected token: Equal"},
    Case{"const i64 X = 99999999999999999999", "Syntax error: Integer literal out of range: 99999999999999999999"}));

INSTANTIATE_TEST_SUITE_P(Limits, ErrorTable, ::testing::Values(
    Case{"typedef " + nested_list(64) + " T", "OK"},
    Case{"typedef " + nested_list(65) + " T", "Syntax error: Type nesting too deep (more than 64 levels)"},
    Case{"struct A { 1: " + nested_list(100000) + " x }", "Syntax error: Type nesting too deep (more than 64 levels)"},
    Case{"typedef " + nested_list(40) + " T typedef " + nested_list(24, "T") + " U", "OK"},
    Case{"typedef " + nested_list(40) + " T typedef " + nested_list(25, "T") + " U",
         "Syntax error: Type nesting too deep (more than 64 levels)"},
    Case{[] {
             std::string idl = "typedef i32 T0 ";
             for (int i = 1; i <= 12; ++i)
                 idl += "typedef map<T" + std::to_string(i - 1) + ", T" + std::to_string(i - 1) + "> T" + std::to_string(i) + " ";
             return idl;
         }(),
         "Syntax error: Type expression too large (more than 1024 nodes)"},
    Case{"struct A { 1: i32 x = " + std::string(100000, '[') + " }", "End of input"},
    Case{"struct A { 1: i32 x (" + std::string(100000, '(') + " }", "End of input"},
    Case{[] {
             std::string idl = "struct S0 { ";
             for (int i = 0; i < 200; ++i) idl += std::to_string(i) + ": i32 f" + std::to_string(i) + "; ";
             idl += "} ";
             for (int i = 1; i < 2000; ++i)
                 idl += "struct S" + std::to_string(i) + " extends S" + std::to_string(i - 1) + " { " +
                        std::to_string(1000 + i) + ": i32 g" + std::to_string(i) + " } ";
             return idl;
         }(),
         "Syntax error: Inherited definitions too large (more than 262144 copied fields and methods)"}));

// ---------------------------------------------------------------------------------------------
// Fields of struct A: types, defaults and the real-world constructs (separators, i8, literals,
// annotations, named-type elements, recovery after failed defaults, automatic ids, `&`).

class FieldTable : public ::testing::TestWithParam<Case> {};
TEST_P(FieldTable, Fields) { EXPECT_EQ(fields_of_a(GetParam().idl), GetParam().expected) << GetParam().idl; }

INSTANTIATE_TEST_SUITE_P(Defaults, FieldTable, ::testing::Values(
    Case{"struct A { 1: bool b = 1 }", F(1, "b", "Bool", "Bool(true)")},
    Case{"struct A { 1: bool b = 0 }", F(1, "b", "Bool", "Bool(false)")},
    Case{"struct A { 1: bool b = true; 2: bool c = false }", F(1, "b", "Bool", "Bool(true)") + F(2, "c", "Bool", "Bool(false)")},
    Case{"struct A { 1: bool b = yes }", F(1, "b", "Bool")},
    Case{"struct A { 1: byte b = 300 }", F(1, "b", "Byte", "Byte(44)")},
    Case{"struct A { 1: i16 s = 70000 }", F(1, "s", "I16", "I16(4464)")},
    Case{"struct A { 1: i32 x = 4294967297; 2: i32 y = 0x7FFFFFFF }", F(1, "x", "I32", "I32(1)") + F(2, "y", "I32", "I32(2147483647)")},
    Case{"struct A { 1: i64 x = -9223372036854775808 }", F(1, "x", "I64", "I64(-9223372036854775808)")},
    Case{"struct A { 1: double d = 3 }", F(1, "d", "Double", "Double(3.0)")},
    Case{"struct A { 1: double d = -2 }", F(1, "d", "Double", "Double(-2.0)")},
    Case{"struct A { 1: string s = \"hi\"; 2: string t = GREETING; 3: string u = 'x' }",
         F(1, "s", "String", "String(\"hi\")") + F(2, "t", "String", "String(\"GREETING\")") + F(3, "u", "String", "String(\"x\")")},
    Case{"struct A { 1: binary b = \"ab\" }", F(1, "b", "Binary", "Binary([97, 98])")},
    Case{"struct A { 1: binary b = ab }", F(1, "b", "Binary")},
    Case{"struct A { 1: map<string,i32> m = {\"a\": 1, \"a\": 2} }",
         F(1, "m", "Map(String, I32)", "Map([(String(\"a\"), I32(1)), (String(\"a\"), I32(2))])")},
    Case{"struct A { 1: list<string> l = [a, \"b\"; c] }",
         F(1, "l", "List(String)", "List([String(\"a\"), String(\"b\"), String(\"c\")])")},
    Case{"struct A { 1: set<i32> s = [1, 1,] }", F(1, "s", "Set(I32)", "Set([I32(1), I32(1)])")},
    Case{"struct A { 1: list<list<i32>> l = [[1, 2], []] }",
         F(1, "l", "List(List(I32))", "List([List([I32(1), I32(2)]), List([])])")},
    Case{"struct A { 1: Point p = {\"x\": 1} }", F(1, "p", "Struct(\"Point\")", "Struct { name: Some(\"Point\"), fields: {} }")},
    Case{"enum Color { RED = 1, GREEN } struct A { 1: i32 c = Color.GREEN }", F(1, "c", "I32", "I32(2)")},
    Case{"enum Color { RED = 1, GREEN } struct A { 1: Color c = Color.GREEN }", F(1, "c", "I32", "I32(2)")},
    Case{"enum Color { RED = 1, GREEN } struct A { 1: double c = Color.GREEN }", F(1, "c", "Double", "Double(2.0)")},
    Case{"enum Color { RED = 1, GREEN } struct A { 1: i32 c = Color.BLUE; 2: i32 d = GREEN; }", F(1, "c", "I32") + F(2, "d", "I32")},
    Case{"struct A { 1: Color c = Color.GREEN } enum Color { RED = 1, GREEN }",
         F(1, "c", "Struct(\"Color\")", "Struct { name: Some(\"Color\"), fields: {} }")},
    Case{"struct A { 1: i32 x = MAX_SIZE; }", F(1, "x", "I32")},
    Case{"struct A { 1: list<i32> l = [1, \"a\", 3]; }", F(1, "l", "List(I32)")},
    Case{"struct A { 1: set<i32> s = {}, 2: map<i32,i32> m = {} }", F(1, "s", "Set(I32)") + F(2, "m", "Map(I32, I32)", "Map([])")}));

INSTANTIATE_TEST_SUITE_P(Types, FieldTable, ::testing::Values(
    Case{"struct A { 1: required i32 x; 2: optional i32 y }", F(1, "x", "I32", "None", true) + F(2, "y", "I32")},
    Case{"struct A { 65537: i32 x; 40000: i32 y; -1: i32 z }", F(1, "x", "I32") + F(-25536, "y", "I32") + F(-1, "z", "I32")},
    Case{"struct A { 1: set<i32> s; 2: map<string,list<i64>> m; 3: binary b }",
         F(1, "s", "Set(I32)") + F(2, "m", "Map(String, List(I64))") + F(3, "b", "Binary")},
    Case{"struct A { 1: shared.Point p }", F(1, "p", "Struct(\"shared.Point\")")},
    Case{"typedef i64 Point struct A { 1: shared.Point p; 2: Point q }", F(1, "p", "I64") + F(2, "q", "I64")},
    Case{"struct A { 1: Id x } typedef i64 Id", F(1, "x", "Struct(\"Id\")")},
    Case{"typedef i64 Id struct A { 1: Id x }", F(1, "x", "I64")},
    Case{"typedef list<Id> Ids typedef i64 Id struct A { 1: Ids x }", F(1, "x", "List(Struct(\"Id\"))")},
    Case{"enum E { X } typedef string E struct A { 1: E e }", F(1, "e", "String")},
    Case{"typedef string E enum E { X } struct A { 1: E e }", F(1, "e", "I32")},
    Case{"struct A { 1: i32 service_ }", F(1, "service_", "I32")}));

INSTANTIATE_TEST_SUITE_P(RealWorld, FieldTable, ::testing::Values(
    // 1: a comma after a field is a separator in struct bodies.
    Case{"struct A { 1: i32 a, 2: i32 b }", F(1, "a", "I32") + F(2, "b", "I32")},
    Case{"union A { 1: i32 a, 2: i32 b, }", F(1, "a", "I32") + F(2, "b", "I32")},
    Case{"exception A { 1: i32 a; 2: i32 b 3: i32 c, }", F(1, "a", "I32") + F(2, "b", "I32") + F(3, "c", "I32")},
    // 2: i8 is byte.
    Case{"struct A { 1: i8 b = -1; 2: list<i8> l }", F(1, "b", "Byte", "Byte(-1)") + F(2, "l", "List(Byte)")},
    // 3: hexadecimal, float and single-quoted literals.
    Case{"struct A { 1: i32 x = 0x1F; 2: i64 y = -0X10 }", F(1, "x", "I32", "I32(31)") + F(2, "y", "I64", "I64(-16)")},
    Case{"struct A { 1: double d = 1.5; 2: double e = -2.5e-3; 3: double f = 1e20 }",
         F(1, "d", "Double", "Double(1.5)") + F(2, "e", "Double", "Double(-0.0025)") + F(3, "f", "Double", "Double(1e20)")},
    Case{"struct A { 1: list<double> l = [1, 2.5, 085.2355] }",
         F(1, "l", "List(Double)", "List([Double(1.0), Double(2.5), Double(85.2355)])")},
    Case{"struct A { 1: i32 x = 1.5 2: i32 y }", F(1, "x", "I32") + F(2, "y", "I32")},
    Case{"struct A { 1: bool b = 1.0 2: i32 y }", F(1, "b", "Bool") + F(2, "y", "I32")},
    Case{"struct A { 1: map<string,string> m = {'a': 'b'} }", F(1, "m", "Map(String, String)", "Map([(String(\"a\"), String(\"b\"))])")},
    // 4: annotations after any type, also inside type arguments.
    Case{"struct A { 1: list<i32 (python.immutable = \"\")> l }", F(1, "l", "List(I32)")},
    Case{"struct A { 1: map<set<i32> (a = \"b\"), string> m }", F(1, "m", "Map(Set(I32), String)")},
    Case{"struct A { 1: list<list<i32 (a)> (b = \"c\", d)> (e = 'f') x = [[1]] (i) }",
         F(1, "x", "List(List(I32))", "List([List([I32(1)])])")},
    // 5: named-type list elements terminate.
    Case{"struct A { 1: list<Point> ps = [{\"x\": 1}, Foo] }",
         F(1, "ps", "List(Struct(\"Point\"))",
           "List([Struct { name: Some(\"Point\"), fields: {} }, Struct { name: Some(\"Point\"), fields: {} }])")},
    Case{"struct A { 1: list<Point> ps = [Foo Bar; (1) Baz,] }",
         F(1, "ps", "List(Struct(\"Point\"))",
           "List([Struct { name: Some(\"Point\"), fields: {} }, Struct { name: Some(\"Point\"), fields: {} }])")},
    Case{"struct A { 1: list<Point> ps = [Foo, , Bar]; 2: i32 y }", F(1, "ps", "List(Struct(\"Point\"))") + F(2, "y", "I32")},
    Case{"struct A { 1: set<Point> ps = [;] 2: i32 y }", F(1, "ps", "Set(Struct(\"Point\"))") + F(2, "y", "I32")},
    Case{"struct A { 1: map<string,Point> m = {\"a\": {}, \"b\": P} }",
         F(1, "m", "Map(String, Struct(\"Point\"))",
           "Map([(String(\"a\"), Struct { name: Some(\"Point\"), fields: {} }), (String(\"b\"), Struct { name: Some(\"Point\"), fields: {} })])")},
    // 6: a failed default loses nothing after it.
    Case{"struct A { 1: string s = 5 2: i32 y }", F(1, "s", "String") + F(2, "y", "I32")},
    Case{"struct A { 1: string s = 5; 2: i32 y }", F(1, "s", "String") + F(2, "y", "I32")},
    Case{"struct A { 1: list<i32> l = [1, \"a\", 3] 2: i32 y }", F(1, "l", "List(I32)") + F(2, "y", "I32")},
    Case{"struct A { 1: map<string,list<i32>> m = {\"a\": [1, x.y, 2], \"b\": [3]} 2: i32 y }",
         F(1, "m", "Map(String, List(I32))") + F(2, "y", "I32")},
    Case{"struct A { 1: i32 x = {\"a\": (1)} 2: i32 y }", F(1, "x", "I32") + F(2, "y", "I32")},
    Case{"struct A { 1: i32 x = MAX_SIZE }", F(1, "x", "I32")},
    Case{"const i32 X = MAX_SIZE struct A { 1: i32 x }", F(1, "x", "I32")},
    Case{"const list<i32> L = [1, \"a\"] struct A { 1: i32 x }", F(1, "x", "I32")},
    Case{"const Point P = {\"x\": [1, 2]} struct A { 1: i32 x }", F(1, "x", "I32")},
    Case{"const double PI = 3.14159; const i32 N = 1.5 struct A { 1: i32 x }", F(1, "x", "I32")},
    // 7: fields without ids: -1, -2, ... per field list.
    Case{"struct A { i32 x }", F(-1, "x", "I32")},
    Case{"struct A { string name, optional i32 x; 1: i32 y, required i64 z }",
         F(-1, "name", "String") + F(-2, "x", "I32") + F(1, "y", "I32") + F(-3, "z", "I64", "None", true)},
    Case{"struct A { i32 x = 1.5 i32 y }", F(-1, "x", "I32")},
    // 8: `&` after a field's type.
    Case{"struct A { 1: RecList & next; 2: list<A> (x = \"y\") & all }", F(1, "next", "Struct(\"RecList\")") + F(2, "all", "List(Struct(\"A\"))")}));

INSTANTIATE_TEST_SUITE_P(Structs, FieldTable, ::testing::Values(
    Case{"struct A { 1: i32 a; 2: i32 b; }", F(1, "a", "I32") + F(2, "b", "I32")},
    Case{"struct A { 1: i32 a 2: i32 b }", F(1, "a", "I32") + F(2, "b", "I32")},
    Case{"struct A {}", ""},
    Case{"struct A { 1: i32 a } struct A { 2: i32 b }", F(2, "b", "I32")},
    Case{"struct A { 1: i32 a; 1: i32 a }", F(1, "a", "I32") + F(1, "a", "I32")},
    Case{"struct A (x = \"y\") { 1: i32 a (z) } (w = 'v');", F(1, "a", "I32")},
    Case{"struct P { 1: i32 x; 2: i32 y = 7 } struct A extends P { 3: i32 z }",
         F(1, "x", "I32") + F(2, "y", "I32", "I32(7)") + F(3, "z", "I32")},
    Case{"struct P { 1: i32 x } struct Q extends P { 2: i32 y } struct A extends x.Q { 3: i32 z }",
         F(1, "x", "I32") + F(2, "y", "I32") + F(3, "z", "I32")},
    Case{"struct P { 1: i32 x } exception A extends P { i32 y }", F(1, "x", "I32") + F(-1, "y", "I32")}));

// ---------------------------------------------------------------------------------------------
// Enums, typedefs, namespaces, includes, services.

TEST(Parser, Enums) {
    const Case cases[] = {
        {"enum E { A, B = 5, C }", R"({"A": 0, "B": 5, "C": 6})"},
        {"enum E { A = -1, B }", R"({"A": -1, "B": 0})"},
        {"enum E { A, B, A }", R"({"A": 2, "B": 1})"},
        {"enum E { A = 2147483647, B }", R"({"A": 2147483647, "B": -2147483648})"},
        {"enum E { A = 4294967297; B = 0x10; C }", R"({"A": 1, "B": 16, "C": 17})"},
        {"enum E { SUNDAY ( weekend = \"yes\" ), MONDAY = 3 (x), TUESDAY } (y = \"z\");",
         R"({"MONDAY": 3, "SUNDAY": 0, "TUESDAY": 4})"},
        {"enum E {}", "{}"},
        {"enum E { A } enum E { B }", R"({"B": 0})"},
    };
    for (const auto& c : cases) {
        const ThriftDocument doc = must_parse(c.idl);
        ASSERT_EQ(doc.enums.size(), 1u) << c.idl;
        EXPECT_EQ(doc.enums.at("E").name, "E");
        EXPECT_EQ(render_enum_values(doc.enums.at("E")), c.expected) << c.idl;
    }
}

TEST(Parser, TypedefsWithAnnotations) {
    const ThriftDocument doc = must_parse(
        "typedef i32 MyInt (cpp.type = \"int\")\n"
        "typedef list<i32> ( cpp.template = \"std::list\" ) int_linked_list,\n"
        "typedef MyInt Other;\n"
        "struct A { 1: MyInt a; 2: int_linked_list b; 3: Other c }");
    EXPECT_EQ(render_fields(doc.structs.at("A").fields), F(1, "a", "I32") + F(2, "b", "List(I32)") + F(3, "c", "I32"));
}

TEST(Parser, NamespacesAndIncludes) {
    const ThriftDocument doc = must_parse(
        "include \"a.thrift\" include \"a.thrift\"; include 'dir/b.thrift'\n"
        "namespace * foo.bar\nnamespace py \"x.y\"\nnamespace java a.b.c; namespace java d\n"
        "namespace xsd test (uri = 'http://x')\nnamespace cpp struct.enum\nnamespace rb 'q'.r\n");
    EXPECT_EQ(doc.includes, (std::vector<std::string>{"a.thrift", "a.thrift", "dir/b.thrift"}));
    EXPECT_EQ(doc.namespaces, (std::unordered_map<std::string, std::string>{
                                  {"*", "foo.bar"}, {"py", "x.y"}, {"java", "d"}, {"xsd", "test"}, {"cpp", "struct.enum"}, {"rb", "q.r"}}));
}

TEST(Parser, Services) {
    const ThriftDocument doc = must_parse(R"(
        exception Oops { 1: string msg }
        service Base {
            void ping(),
            i32 add(1: i32 a, 2: i32 b = 5) throws (1: Oops o),
        }
        service Calc extends Base {
            oneway void fire(string msg, i32 n; 3: i64 t) throws (Oops o, 2: Bad b) (anno = "x");
            list<i32 (a = "b")> (c) many(1: set<i8> s,)
            void ping2()
        } (svc = "1")
        typedef i32 void
        service V { void v() }
    )");
    EXPECT_EQ(test::render_sorted(doc),
              "includes: \n"
              "struct Oops\n" + F(1, "msg", "String") +
              "service Base\n"
              "  Struct(\"void\") ping\n"
              "  I32 add\n"
              "    arg " + F(1, "a", "I32") +
              "    arg " + F(2, "b", "I32", "I32(5)") +
              "    throws " + F(1, "o", "Struct(\"Oops\")") +
              "service Calc\n"
              "  Struct(\"void\") ping\n"
              "  I32 add\n"
              "    arg " + F(1, "a", "I32") +
              "    arg " + F(2, "b", "I32", "I32(5)") +
              "    throws " + F(1, "o", "Struct(\"Oops\")") +
              "  oneway Struct(\"void\") fire\n"
              "    arg " + F(-1, "msg", "String") +
              "    arg " + F(-2, "n", "I32") +
              "    arg " + F(3, "t", "I64") +
              "    throws " + F(-1, "o", "Struct(\"Oops\")") +
              "    throws " + F(2, "b", "Struct(\"Bad\")") +
              "  List(I32) many\n"
              "    arg " + F(1, "s", "Set(Byte)") +
              "  Struct(\"void\") ping2\n"
              "service V\n"
              "  I32 v\n");
    const ThriftMethod* fire = doc.services.at("Calc").find_method("fire");
    ASSERT_NE(fire, nullptr);
    EXPECT_TRUE(fire->oneway);
    EXPECT_EQ(to_debug_string(doc.services.at("Base").methods[0]),
              R"(ThriftMethod { name: "ping", arguments: [], exceptions: [], return_type: Struct("void"), oneway: false })");
}

TEST(Parser, ParseDocumentOnTokens) {
    auto tokens = tokenize("struct A { 1: i32 x }");
    ASSERT_TRUE(tokens.ok());
    auto doc = parse_document(*tokens);
    ASSERT_TRUE(doc.ok());
    EXPECT_EQ(doc->structs.size(), 1u);
    // Tokens the lexer never makes are skipped at top level like any other stray token.
    std::vector<Token> odd = {Token::make_symbol(U'@'), Token::make_float(1.5), Token::make(TokenKind::Ampersand)};
    EXPECT_TRUE(parse_document(odd).ok());
}

}  // namespace
}  // namespace velmora
