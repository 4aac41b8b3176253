"""Struct bodies read from JSON: the writer's struct-object layout and the name-keyed payload form."""
import math
import struct

import pytest

import velmora

JSON = velmora.ProtocolType.JSON

IDL = """
struct Leaf { 1: i32 n; 2: string label }
struct Node { 1: Leaf leaf; 2: list<Node> children }
struct All {
  1: bool flag;
  2: byte tiny;
  3: i16 small;
  4: i32 mid = 7;
  5: i64 big;
  6: double real;
  7: string text = "dflt";
  8: binary blob;
  9: list<i32> ints;
  10: set<string> tags;
  11: map<string, i64> counts;
  12: Leaf leaf;
  13: list<Leaf> leaves;
  14: map<i32, Leaf> by_id;
  15: Node tree;
  16: map<binary, bool> by_bytes;
  17: map<bool, double> by_flag;
  18: map<double, list<string>> by_real;
  19: map<i64, byte> by_big;
}
struct Dangling { 1: Missing m }
"""


@pytest.fixture(scope="module")
def parser():
    p = velmora.ThriftParser()
    p.parse(IDL)
    return p


@pytest.fixture(scope="module")
def All(parser):
    return parser.get_struct("All")


def plain(value):
    """Instances as dicts, recursively, without the fields that read None."""
    if isinstance(value, velmora.ThriftStructInstance):
        return {k: plain(v) for k, v in value.to_dict().items() if v is not None}
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    return value


def read(S, data):
    return S.deserialize_with_protocol(data, JSON)


def tree(depth):
    node = {"leaf": {"n": depth, "label": "bottom"}}
    for i in range(depth):
        node = {"leaf": {"n": i}, "children": [node, {"children": []}]}
    return node


ROUND_TRIP = [
    {"flag": True, "tiny": -128, "small": -32768, "mid": -2**31, "big": -2**63},
    {"flag": False, "tiny": 127, "small": 32767, "mid": 2**31 - 1, "big": 2**63 - 1},
    {"big": 2**53 + 1, "real": 0.1},
    {"real": -1.5e300, "text": "", "blob": b""},
    {"real": 5e-324, "text": 'q"b\\s\x00\x01\n\té€😀', "blob": bytes(range(256))},
    {"ints": [], "tags": [], "counts": {}, "leaves": [], "by_id": {}},
    {"ints": [0, -1, 2**31 - 1], "tags": ["a", "b"], "counts": {"x": -2**63, "": 2**62, "é\"": 0}},
    {"leaf": {"n": 1, "label": "one"}, "leaves": [{"n": 2}, {"label": "three"}, {}]},
    {"by_id": {-5: {"n": -5}, 0: {}, 2**31 - 1: {"label": "max"}}},
    {"by_bytes": {b"": True, b"\x00\xff": False, b"abc": True}},
    {"by_flag": {True: 1.25, False: -0.0}, "by_real": {1.5: ["x"], -2.0: [], 1e300: ["y", "z"]}},
    {"by_big": {-2**63: -128, 2**63 - 1: 127, 0: 0}},
    # Structs nested many levels deep still find their types.
    {"tree": tree(20)},
]


@pytest.mark.parametrize("data", ROUND_TRIP)
def test_written_json_reads_back(All, data):
    written = All.serialize_with_protocol(data, JSON)
    expected = dict(data)
    expected.setdefault("mid", 7)  # written from the dict's missing field
    expected.setdefault("text", "dflt")
    assert plain(read(All, written)) == expected
    assert plain(velmora.JSONProtocol.deserialize_struct(All, written)) == expected


def test_struct_object_form_uses_declared_types_and_no_defaults(All):
    inst = read(All, b'{"4":["str",5],"99":["i32",1],"x":["i32",2],"3":["i16"],"2":7,"12":["lst",{"1":["i64",3]}]}')
    assert inst.mid == 5  # type name ignored
    assert inst.text is None  # defaults only apply to the payload form
    # Unknown ids, non-numeric keys and entries that are not [type, value] are ignored.
    assert plain(inst) == {"mid": 5, "leaf": {"n": 3}}


def test_struct_object_form_reads_wrong_scalar_kinds_leniently(All):
    inst = read(All, b'{"1":["tf",2],"2":["i8",300],"3":["i16",1.0],"5":["i64","x"],'
                     b'"6":["dbl","-Infinity"],"7":["str",5],"8":["str",null],'
                     b'"17":["map",["tf","dbl",2,{"TRUE":"1e3","yes":null}]]}')
    assert (inst.flag, inst.tiny, inst.small, inst.big, inst.text, inst.blob) == (True, 44, 0, 0, "", b"")
    assert inst.real == -math.inf
    assert inst.by_flag == {True: 1000.0, False: 0.0}


def test_payload_form_converts_by_name_and_applies_defaults(All):
    doc = (b'{"payload":{"tiny":5,"big":"-9007199254740993","real":2,"blob":"AAE=","text":"t",'
           b'"ints":[1,"2"],"counts":{"k":"3"},"by_flag":{"true":0.5,"0":1},'
           b'"by_bytes":{"AP8=":true,"raw":1},"leaves":[{"n":1},{}],"tree":{"children":[{"leaf":{}}]},'
           b'"leaf":5,"unknown":1},"other":1}')
    expected = {"tiny": 5, "mid": 7, "big": -9007199254740993, "real": 2.0, "blob": b"\x00\x01", "text": "t",
                "ints": [1, 2], "counts": {"k": 3}, "by_flag": {False: 1.0, True: 0.5},
                "by_bytes": {b"\x00\xff": True, b"raw": True}, "leaves": [{"n": 1}, {}],
                "tree": {"children": [{"leaf": {}}]}, "leaf": {}}
    for data in (doc, struct.pack(">I", len(doc)) + doc):
        inst = read(All, data)
        assert plain(inst) == expected
        # The instance holds Thrift values that serialize like the same data given as a dict.
        assert All.serialize(inst) == All.serialize(expected)


def test_payload_form_stores_text_that_is_not_base64_as_its_bytes(All):
    assert read(All, b'{"payload":{"blob":"no base64!"}}').blob == b"no base64!"


def test_documents_that_are_not_the_payload_form_are_read_as_struct_objects(All):
    assert read(All, b'{"payload":[1],"4":["i32",3]}').mid == 3
    # A frame header only precedes the payload form: the struct-object form sees it as text.
    for doc in (b'{"4":["i32",3]}', b'{"payload":"x"}'):
        with pytest.raises(ValueError, match="^JSON parse error: "):
            read(All, struct.pack(">I", len(doc)) + doc)


@pytest.mark.parametrize("data, error, message", [
    (b"", ValueError, "JSON parse error: EOF while parsing a value"),
    (b"{} x", ValueError, "JSON parse error: trailing characters"),
    (b'{"7":["str","\xff"]}', ValueError, "JSON parse error: "),
    (b"[" * 1000, ValueError, "JSON parse error: recursion limit exceeded"),
    (b"[1]", TypeError, "Expected JSON object for struct"),
    (b'"payload"', TypeError, "Expected JSON object for struct"),
    (b'{"8":["str","AA=A"]}', ValueError, "Base64 error: "),
    (b'{"16":["map",["str","tf",1,{"@":1}]]}', ValueError, "Base64 error: "),
    (b'{"9":["lst",5]}', TypeError, "Expected JSON array$"),
    (b'{"11":["map",{}]}', TypeError, "Expected JSON array for map"),
    (b'{"11":["map",["str","i64",1]]}', TypeError, "Map array too short"),
    (b'{"11":["map",["str","i64",1,[]]]}', TypeError, "Expected JSON object in map"),
    (b'{"12":["rec",[]]}', TypeError, "Expected JSON object for struct"),
    (b'{"13":["lst",["rec",1,5]]}', TypeError, "Expected JSON object for struct"),
    (b'{"payload":{"mid":7.5}}', ValueError, "expected JSON integer"),
    (b'{"payload":{"big":"9223372036854775808"}}', ValueError, "expected JSON integer"),
    (b'{"payload":{"ints":[1,null]}}', ValueError, "expected JSON integer"),
    (b'{"payload":{"leaves":[{"n":true}]}}', ValueError, "expected JSON integer"),
    # Integers that do not fit the declared width, and integer keys that are not integers,
    # are refused instead of being wrapped around or collapsed to 0.
    (b'{"payload":{"tiny":128}}', ValueError, "JSON integer 128 out of range for byte"),
    (b'{"payload":{"mid":"-2147483649"}}', ValueError, "JSON integer -2147483649 out of range for i32"),
    (b'{"payload":{"by_id":{"1":{},"x":{}}}}', ValueError, "expected JSON integer"),
    (b'{"payload":{"by_big":{"1":"1000"}}}', ValueError, "JSON integer 1000 out of range for byte"),
])
def test_malformed_documents(All, data, error, message):
    with pytest.raises(error, match="^" + message):
        read(All, data)


def test_struct_type_missing_from_the_document(parser):
    Dangling = parser.get_struct("Dangling")
    with pytest.raises(ValueError, match="^Unknown struct: Missing$"):
        read(Dangling, b'{"1":["rec",{}]}')
