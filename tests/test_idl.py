"""Parsing IDL from Python: ThriftParser, struct type objects and description objects."""
import sys
from pathlib import Path

import pytest

import velmora

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
import idl_corpus  # noqa: E402


def parse(text):
    p = velmora.ThriftParser()
    p.parse(text)
    return p


def fields_repr(text, name="A"):
    """repr of struct `name` after parsing `text`, without the ThriftStruct(...) frame."""
    r = repr(parse(text).get_struct(name))
    prefix = f'ThriftStruct(name="{name}", fields='
    assert r.startswith(prefix) and r.endswith(")")
    return r[len(prefix):-1]


def field(id_, name, type_, default="None", required="false"):
    return (f'ThriftField {{ id: {id_}, name: "{name}", required: {required}, '
            f'field_type: {type_}, default_value: {default} }}')


def fl(*fields):
    return "[" + ", ".join(fields) + "]"


def st(name):
    return 'Struct("' + name + '")'


def empty_struct_value(name):
    return 'Struct { name: Some("' + name + '"), fields: {} }'


# (IDL of struct A's body, expected rendering of its field list)
STRUCT_CASES = [
    ("1: i32 a; 2: string b", fl(field(1, "a", "I32"), field(2, "b", "String"))),
    ("1: i32 a, 2: i32 b", fl(field(1, "a", "I32"), field(2, "b", "I32"))),
    ("1: i32 a 2: i32 b,", fl(field(1, "a", "I32"), field(2, "b", "I32"))),
    ("1: required i64 x", fl(field(1, "x", "I64", required="true"))),
    ("1: optional i8 x", fl(field(1, "x", "Byte"))),
    ("1: map<string,list<i64>> m", fl(field(1, "m", "Map(String, List(I64))"))),
    ("1: set<i32> s", fl(field(1, "s", "Set(I32)"))),
    ("1: shared.Point p", fl(field(1, "p", st("shared.Point")))),
    ("65537: i32 a; 40000: i32 b", fl(field(1, "a", "I32"), field(-25536, "b", "I32"))),
    ("string name, optional i32 x;", fl(field(-1, "name", "String"), field(-2, "x", "I32"))),
    ('1: list<i32 (python.immutable = "")> l', fl(field(1, "l", "List(I32)"))),
    ('1: map<set<i32> (a = "b"), string> m', fl(field(1, "m", "Map(Set(I32), String)"))),
    ("1: A & next", fl(field(1, "next", st("A")))),
    # defaults
    ("1: bool b = 1; 2: bool c = 0; 3: bool d = yes;",
     fl(field(1, "b", "Bool", "Some(Bool(true))"), field(2, "c", "Bool", "Some(Bool(false))"), field(3, "d", "Bool"))),
    ("1: byte b = 300; 2: i16 s = 70000",
     fl(field(1, "b", "Byte", "Some(Byte(44))"), field(2, "s", "I16", "Some(I16(4464))"))),
    ("1: i32 h = 0x1F; 2: i64 n = -0X1f",
     fl(field(1, "h", "I32", "Some(I32(31))"), field(2, "n", "I64", "Some(I64(-31))"))),
    ("1: double d = 3; 2: double e = -2.5; 3: double f = 2.5E-3",
     fl(field(1, "d", "Double", "Some(Double(3.0))"), field(2, "e", "Double", "Some(Double(-2.5))"),
        field(3, "f", "Double", "Some(Double(0.0025))"))),
    ("1: i32 x = 1.5; 2: i32 y", fl(field(1, "x", "I32"), field(2, "y", "I32"))),
    ("1: string s = 'single'", fl(field(1, "s", "String", 'Some(String("single"))'))),
    ('1: binary b = "ab"; 2: binary c = ab', fl(field(1, "b", "Binary", "Some(Binary([97, 98]))"), field(2, "c", "Binary"))),
    ('1: list<string> l = [a, "b"; c]',
     fl(field(1, "l", "List(String)", 'Some(List([String("a"), String("b"), String("c")]))'))),
    ('1: map<string,i32> m = {"a": 1, "a": 2}',
     fl(field(1, "m", "Map(String, I32)", 'Some(Map([(String("a"), I32(1)), (String("a"), I32(2))]))'))),
    # a failed default loses nothing that follows it
    ("1: string s = 5 2: i32 y", fl(field(1, "s", "String"), field(2, "y", "I32"))),
    ("1: i32 x = MAX_SIZE; 2: i32 y", fl(field(1, "x", "I32"), field(2, "y", "I32"))),
    ('1: list<i32> l = [1, "a", 3], 2: i32 y', fl(field(1, "l", "List(I32)"), field(2, "y", "I32"))),
    ('1: Point p = {"x": 1}', fl(field(1, "p", st("Point"), "Some(" + empty_struct_value("Point") + ")"))),
    ('1: list<Point> ps = [{"x": 1}, Foo]',
     fl(field(1, "ps", "List(" + st("Point") + ")",
              "Some(List([" + empty_struct_value("Point") + ", " + empty_struct_value("Point") + "]))"))),
]


@pytest.mark.parametrize("body, expected", STRUCT_CASES)
def test_struct_fields(body, expected):
    assert fields_repr("struct A { " + body + " }") == expected


def test_typedefs_and_enums_resolve_in_document_order():
    text = """
        struct Before { 1: Id a; 2: Color c = Color.GREEN }
        typedef i64 Id
        typedef i32 MyInt (cpp.type = "int")
        enum Color { RED = 1, GREEN, BLUE ( weekend = "yes" ), }
        struct After { 1: Id a; 2: Color c = Color.GREEN; 3: MyInt m; 4: i32 r = Color.RED }
    """
    assert fields_repr(text, "Before") == fl(
        field(1, "a", st("Id")), field(2, "c", st("Color"), "Some(" + empty_struct_value("Color") + ")"))
    assert fields_repr(text, "After") == fl(
        field(1, "a", "I64"), field(2, "c", "I32", "Some(I32(2))"), field(3, "m", "I32"),
        field(4, "r", "I32", "Some(I32(1))"))
    assert parse(text).get_enum("Color") == {"RED": 1, "GREEN": 2, "BLUE": 3}


@pytest.mark.parametrize("text, error", [
    ("struct A { 1: i32 x", "Parse error: End of input"),
    ("struct { }", "Parse error: Unexpected token: LeftBrace"),
    ("struct A { 1 i32 x }", 'Parse error: Unexpected token: Identifier("i32")'),
    ("struct A { 1: i32 struct }", 'Parse error: Unexpected token: Keyword("struct")'),
    ("struct A { 1: list<i32 x }", 'Parse error: Unexpected token: Identifier("x")'),
    ("struct A { 1: i32 x } @", 'Parse error: Syntax error: Unexpected input: "@"'),
    ("/* never closed", 'Parse error: Syntax error: Unexpected input: "/* never closed"'),
    ("struct A { 1: i32 x = - 1 }", 'Parse error: Syntax error: Unexpected input: "- 1 }"'),
    ("struct B extends A { 1: i32 y }", "Parse error: Syntax error: Unknown parent struct: A"),
    ("service S extends T {}", "Parse error: Syntax error: Unknown parent service: T"),
    ("struct A { 1: i32 x } struct B extends A { 1: i32 y }",
     "Parse error: Syntax error: Duplicate inherited field 'y' in extends A"),
    ("service T { void f() } service S extends T { void f() }",
     "Parse error: Syntax error: Duplicate inherited method 'f' in extends T"),
    ("struct A { 1: & x }", "Parse error: Unexpected token: Ampersand"),
])
def test_parse_errors(text, error):
    with pytest.raises(ValueError) as info:
        parse(text)
    assert str(info.value) == error


def test_integer_literal_beyond_64_bits_is_a_syntax_error():
    with pytest.raises(ValueError, match="^Parse error: Syntax error: "):
        parse("const i64 X = 99999999999999999999")


@pytest.mark.parametrize("text", [
    "struct A { 1: " + "list<" * 5000 + "i32" + ">" * 5000 + " x }",
    "const list<i32> X = " + "[" * 100000,
    "struct A { 1: list<i32> x = " + "[" * 100000 + " }",
    "(" * 100000,
])
def test_pathological_input_neither_crashes_nor_hangs(text):
    p = velmora.ThriftParser()
    try:
        p.parse(text)
    except ValueError as e:
        assert str(e).startswith("Parse error: ")


def test_parser_object_lifecycle():
    p = velmora.ThriftParser()
    for call in (p.list_structs, p.list_services, p.list_enums, p.list_includes, p.namespaces,
                 lambda: p.get_struct("A"), lambda: p.get_enum("E"), lambda: p.get_service("S")):
        with pytest.raises(ValueError, match="^No document parsed yet$"):
            call()
    with pytest.raises(TypeError, match="name"):
        p.get_struct(5)  # argument check comes before the document check
    with pytest.raises(TypeError, match="content"):
        p.parse(b"struct A {}")
    p.parse("")
    assert (p.list_structs(), p.list_services(), p.list_enums(), p.list_includes(), p.namespaces()) == \
        ([], [], [], [], {})
    p.parse("struct X {} struct Y {}")
    with pytest.raises(ValueError):
        p.parse("struct Z { 1: }")
    assert sorted(p.list_structs()) == ["X", "Y"]
    p.parse("struct Z {}")
    assert p.list_structs() == ["Z"] and p.get_struct("X") is None


def test_realistic_document_end_to_end():
    p = parse("""
        include "common/shared.thrift"
        include "base.thrift"
        namespace * com.example
        namespace py "example.gen"
        namespace java org.example.api

        const i32 MAX = 10
        enum Status { OK = 0, FAILED = 1 }
        typedef list<string> Tags

        struct Point { 1: i32 x, 2: i32 y }
        union Shape { 1: Point p; 2: list<Point> poly }
        exception NotFound { 1: string message }
        struct Base { 1: i64 id }
        struct User extends Base (final = "true") {
          2: required string name (max = "10")
          3: optional Tags tags = ["a", 'b']
          4: Status status = Status.OK
          5: map<string, Point> places
        }

        service Base_ { void ping() }
        service Users extends Base_ {
          User get(1: i64 id) throws (1: NotFound nf),
          oneway void touch(1: i64 id);
          list<User> find(1: string q, 2: i32 limit = MAX)
        }
    """)
    assert sorted(p.list_structs()) == ["Base", "NotFound", "Point", "Shape", "User"]
    assert sorted(p.list_services()) == ["Base_", "Users"]
    assert p.list_enums() == ["Status"]
    assert p.list_includes() == ["common/shared.thrift", "base.thrift"]
    assert p.namespaces() == {"*": "com.example", "py": "example.gen", "java": "org.example.api"}

    user = p.get_struct("User")
    assert user.name == "User"
    assert [(f.id, f.name, f.required) for f in user.fields] == \
        [(1, "id", False), (2, "name", True), (3, "tags", False), (4, "status", False), (5, "places", False)]
    assert repr(user.fields[4]) == \
        'ThriftField(id=5, name="places", required=false, field_type=Map(String, Struct("Point")))'
    assert 'default_value: Some(List([String("a"), String("b")]))' in repr(user)
    assert user.fields is not user.fields
    user.fields.clear()
    assert len(user.fields) == 5

    # aliases from include prefixes resolve to local structs
    assert p.get_struct("shared.Point").name == "Point"
    assert p.get_struct("base.User").name == "User"
    assert p.get_struct("common/shared.Point") is None

    svc = p.get_service("Users")
    assert repr(svc) == 'ThriftService(name="Users", methods=["ping", "get", "touch", "find"])'
    get = svc.get_method("get")
    assert repr(get) == 'ThriftMethod(name="get", return_type=Struct("User"))'
    assert [repr(a) for a in get.arguments] == ['ThriftField(id=1, name="id", required=false, field_type=I64)']
    assert [e.name for e in get.exceptions] == ["nf"]
    assert svc.get_method("touch").oneway is True and get.oneway is False
    assert svc.get_method("ping").arguments == [] and svc.get_method("ping").exceptions == []
    assert repr(svc.get_method("find")) == 'ThriftMethod(name="find", return_type=List(Struct("User")))'
    assert svc.get_method("nope") is None
    with pytest.raises(TypeError, match="name"):
        svc.get_method(1)
    assert p.get_service("Nope") is None and p.get_enum("Nope") is None

    # everything handed out is a snapshot
    p.parse("")
    assert user.name == "User" and len(svc.methods) == 4


def test_include_aliases_scale_with_lookups_not_with_includes_times_structs():
    # 3,000 includes x 3,000 structs would be nine million alias entries if stored
    text = "".join(f'include "dir/inc{i}.thrift"\n' for i in range(3000))
    text += "".join(f"struct S{i} {{ 1: i32 x }}\n" for i in range(3000))
    p = parse(text)
    assert p.get_struct("inc2999.S0").name == "S0"
    assert p.get_struct("inc3000.S0") is None and p.get_struct("inc1.S3000") is None
    assert parse('include ".thrift" struct P {}').get_struct(".P").name == "P"


def test_struct_repr_escapes_and_empty_struct():
    p = parse('struct E {} struct Q { 1: string s = "tab\there" }')
    assert repr(p.get_struct("E")) == 'ThriftStruct(name="E", fields=[])'
    assert 'String("tab\\there")' in repr(p.get_struct("Q"))


def test_description_classes_cannot_be_built_or_changed():
    p = parse("struct A { 1: i32 x } service S { void f() }")
    f = p.get_struct("A").fields[0]
    for obj, attr in ((f, "id"), (p.get_service("S"), "name"), (p.get_struct("A"), "name")):
        with pytest.raises(AttributeError):
            setattr(obj, attr, 1)
    for cls in (velmora.ThriftField, velmora.PyThriftService, velmora.PyThriftMethod, velmora.ThriftStruct):
        with pytest.raises(TypeError):
            cls()


CORPUS = idl_corpus.corpus_root()

# Corpus files that use constructs outside the accepted dialect, with the error they give.
CORPUS_OUTSIDE_DIALECT = {
    # string literals have no escape sequences: the backslash before a quote ends the string
    "AnnotationTest.thrift": r'Parse error: Syntax error: Unexpected input: "\\\"\" )\n  void Bar( ) ( deprecated = \"Fail"',
    # a namespace scope is one word; `py.twisted` is not
    "ThriftTest.thrift": "Parse error: Unexpected token: Dot",
}


@pytest.mark.skipif(CORPUS is None, reason="IDL corpus not present on this machine")
@pytest.mark.parametrize("path", idl_corpus.corpus_files(CORPUS) if CORPUS else [],
                         ids=lambda p: f"{p.parent.name}/{p.name}")
def test_real_world_idl_parses(path):
    p = velmora.ThriftParser()
    text = idl_corpus.document_text(path, CORPUS)
    if path.name in CORPUS_OUTSIDE_DIALECT:
        with pytest.raises(ValueError) as info:
            p.parse(text)
        assert str(info.value) == CORPUS_OUTSIDE_DIALECT[path.name]
        return
    p.parse(text)
    for name in p.list_structs():
        assert p.get_struct(name).name == name
    for name in p.list_services():
        assert p.get_service(name).name == name
