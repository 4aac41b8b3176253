"""Value codec: Python data to bytes and back with a protocol chosen at run time.

Inputs that the writer cannot produce (unknown fields, mismatched wire types, hostile sizes,
deep nesting) are built with the small encoder below, independently of the module's writer.
"""
import json
import struct

import pytest

import velmora

P = velmora.ProtocolType
BINARY_COMPACT = [P.Binary, P.Compact]
ALL_PROTOCOLS = [P.Binary, P.Compact, P.JSON]

IDL = """
struct One { 1: i32 a }
struct AB { 1: i32 a; 2: string b }
struct Leaf { 1: string s }
struct Node { 1: i32 v; 2: Node next; 3: list<Node> kids; 4: map<string, Node> named }
struct Every {
  1: bool b; 2: byte y; 3: i16 h; 4: i32 i; 5: i64 l; 6: double d; 7: string s; 8: binary bin;
  9: list<i32> li; 10: set<string> st; 11: map<i32, string> m; 12: Leaf leaf; 13: list<Leaf> leaves;
  14: Nope nope; 15: map<bool, i64> bm; 16: map<binary, double> binm
}
struct Defaults {
  1: i32 a; 2: i32 b = 5; 3: list<i32> empty = []; 4: required i32 r; 5: required i32 rd = 7
}
struct Ids { 1: i32 a; 20: i32 b; 21: i32 c; 2: bool t; 3: bool f; -3: i32 n }
struct Text { 1: string s; 2: binary bin; 3: i32 after }
struct Tail { 3: i32 after }
struct Listy { 1: list<i32> li; 2: i32 after }
struct Weird { 1: map<list<i32>, Node> w; 2: i32 z }
struct WeirdDefault { 1: map<list<i32>, i32> m = {[1, 2]: 3}; 2: i32 z }
struct HasMissing { 1: Missing m; 2: i32 x }
struct Fresh {
  1: set<i32> s = [1, 1]; 2: map<string, i32> m = {"a": 1, "b": 2, "a": 3}; 3: binary bin = "ab";
  4: double d = 3; 5: bool t = 1; 6: byte y = 300; 7: Leaf leaf = {"s": "ignored"}; 8: Later later = 1
}
enum Later { X = 1 }
struct Outer { 1: Mid mid }
struct Mid { 1: list<Inner> inners }
struct Inner { 1: map<string, Leaf> leaves }
"""

PARSER = velmora.ThriftParser()
PARSER.parse(IDL)


def S(name):
    return PARSER.get_struct(name)


# ---------------------------------------------------------------------------------------
# A minimal encoder for hand-made input. Compact field headers always use the long form
# (delta nibble 0, id as 2 bytes big-endian) so that ids need no bookkeeping.

T_BOOL, T_BYTE, T_DOUBLE, T_I16, T_I32, T_I64 = 2, 3, 4, 6, 8, 10
T_STRING, T_STRUCT, T_MAP, T_SET, T_LIST = 11, 12, 13, 14, 15
COMPACT_CODE = {T_BOOL: 1, T_BYTE: 3, T_I16: 4, T_I32: 5, T_I64: 6, T_DOUBLE: 7,
                T_STRING: 8, T_LIST: 9, T_SET: 10, T_MAP: 11, T_STRUCT: 12}


def varint(n):
    out = bytearray()
    while True:
        if n < 0x80:
            out.append(n)
            return bytes(out)
        out.append((n & 0x7F) | 0x80)
        n >>= 7


def zigzag(n, bits=32):
    return ((n << 1) ^ (n >> (bits - 1))) & ((1 << bits) - 1)


class Enc:
    def __init__(self, protocol):
        self.compact = protocol == P.Compact

    def field(self, ttype, fid):
        code = COMPACT_CODE[ttype] if self.compact else ttype
        return bytes([code]) + struct.pack(">h", fid)

    stop = b"\x00"

    def list(self, etype, n):
        if self.compact:
            return bytes([0xF0 | COMPACT_CODE[etype]]) + varint(zigzag(n))
        return bytes([etype]) + struct.pack(">i", n)

    def map(self, ktype, vtype, n):
        if self.compact:
            return varint(zigzag(n)) + (bytes([COMPACT_CODE[ktype] << 4 | COMPACT_CODE[vtype]]) if n else b"")
        return bytes([ktype, vtype]) + struct.pack(">i", n)

    def i16(self, v):
        return varint(zigzag(v)) if self.compact else struct.pack(">h", v)

    def i32(self, v):
        return varint(zigzag(v)) if self.compact else struct.pack(">i", v)

    def i64(self, v):
        return varint(zigzag(v, 64)) if self.compact else struct.pack(">q", v)

    def bytes(self, b, length=None):
        n = len(b) if length is None else length
        return (varint(zigzag(n)) if self.compact else struct.pack(">i", n)) + b


def read(name, data, protocol):
    return S(name).deserialize_with_protocol(data, protocol)


# ---------------------------------------------------------------------------------------
# Byte-exact encodings

MIXED = {"b": True, "y": -2, "h": -2, "l": -2, "d": 1.0, "st": ["a"], "m": {1: "x"}, "leaf": {"s": "z"}}

@pytest.mark.parametrize("name, data, protocol, expected", [
    ("One", {"a": 1}, P.Binary, bytes.fromhex("0800010000000100")),
    ("One", {"a": 1}, P.Compact, bytes.fromhex("150200")),
    ("One", {"a": 1}, P.JSON, b'{"1":["i32",1]}'),
    ("One", {}, P.Binary, b"\x00"),
    ("One", {}, P.Compact, b"\x00"),
    ("One", {}, P.JSON, b"{}"),
    # Binary: fields in declaration order, the default of an absent field is written, an
    # empty stored list says STRING (11) whatever its declared element type
    ("Defaults", {"a": 1}, P.Binary,
     bytes.fromhex("080001 00000001 080002 00000005 0f0003 0b 00000000 080005 00000007 00")),
    ("AB", {"a": -1, "b": "hé"}, P.Binary, bytes.fromhex("080001 ffffffff 0b0002 00000003 68c3a9 00")),
    ("Every", MIXED, P.Binary, bytes.fromhex(
        "020001 01 030002 fe 060003 fffe 0a0005 fffffffffffffffe 040006 3ff0000000000000"
        "0e000a 0b 00000001 00000001 61 0d000b 08 0b 00000001 00000001 00000001 78"
        "0c000c 0b0001 00000001 7a 00 00")),
    ("Every", MIXED, P.Compact, bytes.fromhex(
        "11 13 fe 14 03 26 03 17 3ff0000000000000 4a 18 02 61 1b 02 58 02 02 78 1c 18 02 7a 00 00")),
    # Compact: short and long field headers, booleans folded into the header, an implicit
    # negative id, zigzag lengths
    ("Ids", {"a": 1, "b": 2, "c": 3, "t": True, "f": False, "n": -1}, P.Compact,
     bytes.fromhex("15 02 05 0014 04 15 06 01 0002 12 05 fffd 01 00")),
    ("AB", {"a": 300, "b": "abc"}, P.Compact, bytes.fromhex("15 d804 18 06 616263 00")),
    ("Every", {"li": list(range(20)), "bm": {True: 1}}, P.Compact,
     bytes.fromhex("99 f5 28") + bytes(range(0, 40, 2)) + bytes.fromhex("6b 02 16 01 02 00")),
    ("Every", {"d": 1.0, "li": [1, 2]}, P.Compact, bytes.fromhex("67 3ff0000000000000 39 25 02 04 00")),
])
def test_worked_encodings(name, data, protocol, expected):
    assert S(name).serialize_with_protocol(data, protocol) == expected


def test_json_printing_of_every_type():
    data = {
        "b": True, "y": -1, "h": 300, "i": -5, "l": 2**62, "d": float("nan"), "s": 'é"\\\n\x01',
        "bin": b"\x00\xff", "li": [1, 2], "st": ["a", "a"], "m": {3: "x"}, "leaf": {"s": "z"},
        "leaves": [{"s": "a"}, {}], "bm": {True: 1, False: -2}, "binm": {b"ab": 1.5},
    }
    assert S("Every").serialize_with_protocol(data, P.JSON).decode() == (
        '{"1":["tf",1],"10":["set",["str",2,"a","a"]],"11":["map",["i32","str",1,{"3":"x"}]],'
        '"12":["rec",{"1":["str","z"]}],"13":["lst",["rec",2,{"1":["str","a"]},{}]],'
        '"15":["map",["tf","i64",2,{"0":"-2","1":"1"}]],"16":["map",["str","dbl",1,{"YWI=":1.5}]],'
        '"2":["i8",-1],"3":["i16",300],"4":["i32",-5],"5":["i64","4611686018427387904"],"6":["dbl",0],'
        '"7":["str","\u00e9\\"\\\\\\n\\u0001"],"8":["str","AP8="],"9":["lst",["i32",2,1,2]]}')


@pytest.mark.parametrize("value, text", [
    (1.0, "1.0"), (0.0001, "0.0001"), (1e-5, "0.00001"), (2.5, "2.5"), (-0.0, "-0.0"),
    (1e16, "1e16"), (1e-6, "1e-6"), (1.5e-7, "1.5e-7"), (123456789012345.6, "123456789012345.6"),
    (float("inf"), "0"), (float("-inf"), "0"),
])
def test_json_double_printing(value, text):
    assert S("Every").serialize_with_protocol({"d": value}, P.JSON) == b'{"6":["dbl",' + text.encode() + b"]}"


def test_entry_points_agree():
    data = {"a": 7, "b": "x"}
    ab = S("AB")
    assert ab.serialize(data) == ab.serialize_with_protocol(data, P.Binary)
    for cls, protocol in ((velmora.BinaryProtocol, P.Binary), (velmora.CompactProtocol, P.Compact),
                          (velmora.JSONProtocol, P.JSON)):
        encoded = ab.serialize_with_protocol(data, protocol)
        assert cls.serialize_struct(ab, data) == encoded
        assert cls.serialize_struct(struct_def=ab, data=data) == encoded
        if protocol != P.JSON:
            assert cls.deserialize_struct(ab, encoded).to_dict() == data
    assert ab.deserialize(ab.serialize(data)).to_dict() == data


# ---------------------------------------------------------------------------------------
# Argument checking

@pytest.mark.parametrize("call, text", [
    (lambda ab: ab.deserialize(bytearray(b"\x00")),
     "argument 'data': 'bytearray' object is not an instance of 'bytes'"),
    (lambda ab: ab.deserialize_with_protocol(memoryview(b"\x00"), P.Binary),
     "argument 'data': 'memoryview' object is not an instance of 'bytes'"),
    (lambda ab: ab.deserialize_with_protocol(b"\x00", 0),
     "argument 'protocol': 'int' object is not an instance of 'ProtocolType'"),
    (lambda ab: ab.serialize_with_protocol({}, "Binary"),
     "argument 'protocol': 'str' object is not an instance of 'ProtocolType'"),
    (lambda ab: velmora.BinaryProtocol.serialize_struct(1, {}),
     "argument 'struct_def': 'int' object is not an instance of 'ThriftStruct'"),
    (lambda ab: velmora.JSONProtocol.deserialize_struct(None, b"{}"),
     "argument 'struct_def': 'None' is not an instance of 'ThriftStruct'"),
    (lambda ab: velmora.CompactProtocol.deserialize_struct(ab, "\x00"),
     "argument 'data': 'str' object is not an instance of 'bytes'"),
    (lambda ab: ab.serialize([("a", 1)]), "'list' object is not an instance of 'dict'"),
    (lambda ab: ab.serialize(None), "'None' is not an instance of 'dict'"),
])
def test_argument_errors(call, text):
    with pytest.raises(TypeError) as info:
        call(S("AB"))
    assert str(info.value) == text


def test_protocol_classes_are_empty_and_static():
    for cls in (velmora.BinaryProtocol, velmora.CompactProtocol, velmora.JSONProtocol):
        obj = cls()
        assert [n for n in dir(obj) if not n.startswith("__")] == ["deserialize_struct", "serialize_struct"]
        assert obj.serialize_struct(S("One"), {"a": 1}) == cls.serialize_struct(S("One"), {"a": 1})
        assert cls.serialize_struct.__text_signature__ == "(struct_def, data)"
        assert cls.deserialize_struct.__text_signature__ == "(struct_def, data)"
        with pytest.raises(TypeError):
            cls(1)


# ---------------------------------------------------------------------------------------
# Writer

@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
@pytest.mark.parametrize("data, error, text", [
    ({"b": 1}, TypeError, "'int' object is not an instance of 'bool'"),
    ({"y": 128}, OverflowError, "out of range integral type conversion attempted"),
    ({"h": -32769}, OverflowError, "out of range integral type conversion attempted"),
    ({"i": 2**31}, OverflowError, "out of range integral type conversion attempted"),
    ({"i": 1.5}, TypeError, "'float' object cannot be interpreted as an integer"),
    ({"i": "1"}, TypeError, "'str' object cannot be interpreted as an integer"),
    ({"l": 2**63}, OverflowError, None),
    ({"d": "x"}, TypeError, "must be real number, not str"),
    ({"s": b"x"}, TypeError, "'bytes' object is not an instance of 'str'"),
    ({"bin": "x"}, TypeError, None),
    ({"bin": [1, 256]}, OverflowError, "out of range integral type conversion attempted"),
    ({"bin": {1: 2}}, TypeError, None),
    ({"li": (1, 2)}, TypeError, "'tuple' object is not an instance of 'list'"),
    ({"li": [1, None]}, TypeError, None),
    ({"st": {"a"}}, TypeError, "'set' object is not an instance of 'list'"),
    ({"m": [(1, "a")]}, TypeError, "'list' object is not an instance of 'dict'"),
    ({"m": {1: None}}, TypeError, "'None' is not an instance of 'str'"),
    ({"leaf": [1]}, TypeError, "'list' object is not an instance of 'dict'"),
    ({"leaves": [{"s": 1}]}, TypeError, "'int' object is not an instance of 'str'"),
    ({"nope": {}}, ValueError, "Unknown struct: Nope"),
    ({"s": "\ud800"}, UnicodeEncodeError, None),
])
def test_writer_rejects_values_of_the_wrong_type(protocol, data, error, text):
    with pytest.raises(error) as info:
        S("Every").serialize_with_protocol(data, protocol)
    if text is not None:
        assert str(info.value) == text


class Index:
    def __index__(self):
        return 7


class Real:
    def __float__(self):
        return 2.5


@pytest.mark.parametrize("data, same_as", [
    ({"i": True}, {"i": 1}),
    ({"i": Index()}, {"i": 7}),
    ({"d": 3}, {"d": 3.0}),
    ({"d": Real()}, {"d": 2.5}),
    ({"bin": [1, 2]}, {"bin": b"\x01\x02"}),
    ({"bin": bytearray(b"ab")}, {"bin": b"ab"}),
    ({"bin": (97, 98)}, {"bin": b"ab"}),
    ({"leaf": None, "i": 1, "unknown": object()}, {"i": 1}),
    ({"leaf": velmora.ThriftStructInstance("Anything", s="x", extra=object())}, {"leaf": {"s": "x"}}),
])
def test_writer_accepts_what_the_typed_extraction_accepts(data, same_as):
    for protocol in ALL_PROTOCOLS:
        assert S("Every").serialize_with_protocol(data, protocol) == \
            S("Every").serialize_with_protocol(same_as, protocol)


def read_back(struct_def, data, protocol):
    """Fields present on the wire after serializing `data`, by name."""
    if protocol == P.JSON:
        body = json.loads(struct_def.serialize_with_protocol(data, protocol))
        names = {str(f.id): f.name for f in struct_def.fields}
        return {names[k]: v[1] if v[0] != "lst" else v[1][2:] for k, v in body.items()}
    inst = struct_def.deserialize_with_protocol(struct_def.serialize_with_protocol(data, protocol), protocol)
    return {k: v for k, v in inst.to_dict().items() if v is not None}


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_required_fields_and_defaults(protocol):
    d = S("Defaults")
    # absent required field without default: omitted; with default: the default
    assert read_back(d, {"a": 1}, protocol) == {"a": 1, "b": 5, "empty": [], "rd": 7}
    with pytest.raises(TypeError) as info:
        d.serialize_with_protocol({"r": None}, protocol)
    assert str(info.value) == "Required field 'r' cannot be None"
    # None for an optional field with a default writes nothing, not the default
    assert read_back(d, {"b": None}, protocol) == {"empty": [], "rd": 7}
    # an instance is not held to the required flag
    inst = d.new_instance()
    inst.r = None
    inst.rd = None
    assert read_back(d, inst, protocol) == {"b": 5, "empty": []}


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_instance_serialization_prefers_python_objects(protocol):
    d = S("Defaults")
    inst = d.new_instance()
    assert read_back(d, inst, protocol) == {"b": 5, "empty": [], "rd": 7}
    inst.b = 6
    inst.empty.extend([1, 2])  # the list read from the default is the one serialized
    assert read_back(d, inst, protocol) == {"b": 6, "empty": [1, 2], "rd": 7}
    inst.a = "not a number"  # accepted on assignment, refused when written
    with pytest.raises(TypeError):
        d.serialize_with_protocol(inst, protocol)


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_self_containing_data_raises_recursion_error(protocol):
    node = S("Node")
    d = {"v": 1}
    d["next"] = d
    kids = []
    kids.append({"kids": kids})
    named = {}
    named["a"] = {"named": named}
    inst = node.new_instance()
    inst.next = inst
    for data in (d, {"kids": kids}, {"named": named}, inst, node.new_instance_from_dict({"next": d})):
        with pytest.raises(RecursionError):
            node.serialize_with_protocol(data, protocol)


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_containers_changing_while_written(protocol):
    items = [1, 2, 3]

    class Shrinks:
        def __index__(self):
            del items[:]
            return 0

    items[0] = Shrinks()
    with pytest.raises(RuntimeError, match="changed size during iteration"):
        S("Every").serialize_with_protocol({"li": items}, protocol)


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_nested_structs_resolve_at_any_depth(protocol):
    data = {"mid": {"inners": [{"leaves": {"k": {"s": "deep"}}}]}}
    encoded = S("Outer").serialize_with_protocol(data, protocol)
    if protocol == P.JSON:
        assert encoded == b'{"1":["rec",{"1":["lst",["rec",1,{"1":["map",["str","rec",1,{"k":{"1":["str","deep"]}}]]}]]}]}'
        return
    outer = S("Outer").deserialize_with_protocol(encoded, protocol)
    leaf = outer.mid.inners[0].leaves["k"]
    assert (leaf.struct_name, leaf.s) == ("Leaf", "deep")
    # instances read at depth write back the same bytes
    assert S("Outer").serialize_with_protocol(outer, protocol) == encoded


# ---------------------------------------------------------------------------------------
# Reader

# (struct, wire body as a function of the encoder, expected to_dict)
READ_CASES = {
    "unknown field skipped": (
        "AB", lambda e: e.field(T_I32, 1) + e.i32(1) + e.field(T_I64, 3) + e.i64(-9)
        + e.field(T_STRING, 2) + e.bytes(b"x") + e.stop,
        {"a": 1, "b": "x"}),
    "unknown containers and structs skipped": (
        "Tail", lambda e: e.field(T_MAP, 1) + e.map(T_STRING, T_LIST, 1) + e.bytes(b"k") + e.list(T_I16, 2)
        + e.i16(1) + e.i16(2) + e.field(T_STRUCT, 2) + e.field(T_SET, 1) + e.list(T_DOUBLE, 1) + b"\0" * 8
        + e.stop + e.field(T_I32, 3) + e.i32(4) + e.stop,
        {"after": 4}),
    "later duplicate wins": (
        "One", lambda e: e.field(T_I32, 1) + e.i32(1) + e.field(T_I32, 1) + e.i32(2) + e.stop,
        {"a": 2}),
    "wire type differs from declared: skipped": (
        "Text", lambda e: e.field(T_I32, 1) + e.i32(5) + e.field(T_I32, 3) + e.i32(7) + e.stop,
        {"s": None, "bin": None, "after": 7}),
    "set on the wire for a list field: skipped": (
        "Listy", lambda e: e.field(T_SET, 1) + e.list(T_I32, 1) + e.i32(1) + e.field(T_I32, 2) + e.i32(7) + e.stop,
        {"li": None, "after": 7}),
    "string and binary share a code": (
        "Text", lambda e: e.field(T_STRING, 2) + e.bytes(b"\xff\x00") + e.stop,
        {"s": None, "bin": b"\xff\x00", "after": None}),
    "unknown string field holding non-UTF-8 skipped": (
        "Tail", lambda e: e.field(T_STRING, 1) + e.bytes(b"\xff\xfe") + e.field(T_I32, 3) + e.i32(7) + e.stop,
        {"after": 7}),
    "negative size of an unknown container reads as empty": (
        "Tail", lambda e: e.field(T_LIST, 1) + e.list(T_I32, -1) + e.field(T_I32, 3) + e.i32(7) + e.stop,
        {"after": 7}),
    "nothing on the wire: every field None, defaults included": (
        "Defaults", lambda e: e.stop,
        {"a": None, "b": None, "empty": None, "r": None, "rd": None}),
    "bytes after the stop marker are ignored": (
        "One", lambda e: e.field(T_I32, 1) + e.i32(3) + e.stop + b"\xff\xff\xff",
        {"a": 3}),
    "sets read as lists keeping duplicates, maps keep the last key": (
        "Every", lambda e: e.field(T_SET, 10) + e.list(T_STRING, 2) + e.bytes(b"a") + e.bytes(b"a")
        + e.field(T_MAP, 11) + e.map(T_I32, T_STRING, 2) + e.i32(1) + e.bytes(b"x") + e.i32(1) + e.bytes(b"y")
        + e.stop,
        dict.fromkeys(["b", "y", "h", "i", "l", "d", "s", "bin", "li", "leaf", "leaves", "nope", "bm", "binm"],
                      None) | {"st": ["a", "a"], "m": {1: "y"}}),
}


@pytest.mark.parametrize("protocol", BINARY_COMPACT)
@pytest.mark.parametrize("case", READ_CASES)
def test_reader(protocol, case):
    name, wire, expected = READ_CASES[case]
    assert read(name, wire(Enc(protocol)), protocol).to_dict() == expected


HUGE = 0x7FFFFFFF
EOF_ERROR = "Read error: IO error: failed to fill whole buffer"

# (struct, wire body, error text)
READ_ERRORS = {
    "truncated": ("AB", lambda e: e.field(T_I32, 1), EOF_ERROR),
    "no stop marker": ("AB", lambda e: e.field(T_I32, 1) + e.i32(1), EOF_ERROR),
    "declared string not UTF-8": (
        "Text", lambda e: e.field(T_STRING, 1) + e.bytes(b"\xff") + e.stop,
        "Read error: IO error: invalid utf-8 sequence of 1 bytes from index 0"),
    "negative list size": (
        "Listy", lambda e: e.field(T_LIST, 1) + e.list(T_I32, -1) + e.stop, "Read error: IO error: Negative size: -1"),
    "negative string length": (
        "Text", lambda e: e.field(T_STRING, 1) + e.bytes(b"", length=-1) + e.stop,
        "Read error: IO error: Negative length: -1"),
    "huge list": ("Listy", lambda e: e.field(T_LIST, 1) + e.list(T_I32, HUGE) + e.i32(1), EOF_ERROR),
    "huge list of structs": ("Node", lambda e: e.field(T_LIST, 3) + e.list(T_STRUCT, HUGE) + e.stop, EOF_ERROR),
    "huge map": ("Every", lambda e: e.field(T_MAP, 11) + e.map(T_I32, T_STRING, HUGE) + e.i32(1), EOF_ERROR),
    "huge string": ("Text", lambda e: e.field(T_STRING, 2) + e.bytes(b"abc", length=HUGE), EOF_ERROR),
    "huge unknown list": ("Tail", lambda e: e.field(T_LIST, 1) + e.list(T_I64, HUGE) + e.i64(1), EOF_ERROR),
    "huge map kept as a stored value": (
        "Weird", lambda e: e.field(T_MAP, 1) + e.map(T_LIST, T_STRUCT, HUGE) + e.list(T_I32, HUGE), EOF_ERROR),
    "unknown struct type": (
        "HasMissing", lambda e: e.field(T_STRUCT, 1) + e.stop + e.stop, "Read error: Unknown struct type: Missing"),
}


@pytest.mark.parametrize("protocol", BINARY_COMPACT)
@pytest.mark.parametrize("case", READ_ERRORS)
def test_read_errors(protocol, case):
    name, wire, text = READ_ERRORS[case]
    with pytest.raises(OSError) as info:
        read(name, wire(Enc(protocol)), protocol)
    assert str(info.value) == text


@pytest.mark.parametrize("protocol, data, text", [
    (P.Binary, b"", EOF_ERROR),
    (P.Binary, bytes([7, 0, 1]), "Read error: Invalid type: 7"),
    (P.Binary, bytes([16, 0, 1]), "Read error: Invalid type: 16"),
    (P.Binary, bytes([15, 0, 9, 16, 0, 0, 0, 0, 0]), "Read error: Invalid field type"),
    (P.Compact, b"", EOF_ERROR),
    (P.Compact, bytes([0x1D]), "Read error: Invalid field type"),
    (P.Compact, bytes([0x99, 0x0D]), "Read error: Invalid field type"),
])
def test_protocol_level_read_errors(protocol, data, text):
    with pytest.raises(OSError) as info:
        read("Every", data, protocol)
    assert str(info.value) == text


def nested_structs(e, levels):
    """A Node whose `next` chain holds `levels` structs in all."""
    body = e.stop
    for _ in range(levels - 1):
        body = e.field(T_STRUCT, 2) + body + e.stop
    return body


def nested_lists(e, levels):
    """A Tail with an unknown field of lists inside lists: `levels` with the struct itself."""
    body = e.list(T_I32, 0)
    for _ in range(levels - 2):
        body = e.list(T_LIST, 1) + body
    return e.field(T_LIST, 9) + body + e.stop


def nested_stored(e, levels):
    """A Weird whose map (kept as a stored value) holds a Node chain: `levels` with the map."""
    return (e.field(T_MAP, 1) + e.map(T_LIST, T_STRUCT, 1) + e.list(T_I32, 0) + nested_structs(e, levels - 2)
            + e.stop)


@pytest.mark.parametrize("protocol", BINARY_COMPACT)
@pytest.mark.parametrize("name, build", [
    ("Node", nested_structs), ("Tail", nested_lists), ("Weird", nested_stored),
])
def test_nesting_deeper_than_64_levels_is_malformed(protocol, name, build):
    e = Enc(protocol)
    read(name, build(e, 64), protocol)
    with pytest.raises(OSError) as info:
        read(name, build(e, 65), protocol)
    assert str(info.value).startswith("Read error: ") and "64" in str(info.value)
    with pytest.raises(OSError):
        read(name, build(e, 5000), protocol)


@pytest.mark.parametrize("protocol", BINARY_COMPACT)
def test_value_without_python_form_reads_none_and_still_serializes(protocol):
    e = Enc(protocol)
    wire = (e.field(T_MAP, 1) + e.map(T_LIST, T_STRUCT, 1) + e.list(T_I32, 2) + e.i32(1) + e.i32(2)
            + e.field(T_I32, 1) + e.i32(9) + e.stop + e.field(T_I32, 2) + e.i32(3) + e.stop)
    weird = S("Weird")
    inst = weird.deserialize_with_protocol(wire, protocol)
    assert (inst.w, repr(inst), inst.to_dict()) == (None, "Weird(w=None, z=3)", {"w": None, "z": 3})
    again = weird.serialize_with_protocol(inst, protocol)
    if protocol == P.Binary:
        assert again == wire
    assert weird.deserialize_with_protocol(again, protocol).z == 3
    assert weird.serialize_with_protocol(weird.deserialize_with_protocol(again, protocol), protocol) == again
    assert S("Weird").serialize_with_protocol(inst, P.JSON) == \
        b'{"1":["map",["lst","rec",1,{"[\\"i32\\",2,1,2]":{"1":["i32",9]}}]],"2":["i32",3]}'
    # a field read as a stored value also skips a mismatched field of a nested struct
    wire = (e.field(T_MAP, 1) + e.map(T_LIST, T_STRUCT, 1) + e.list(T_I32, 0)
            + e.field(T_I16, 1) + e.i16(9) + e.field(T_I32, 1) + e.i32(4) + e.stop + e.stop)
    inst = weird.deserialize_with_protocol(wire, protocol)
    assert inst.w is None
    expected = (e.field(T_MAP, 1) + e.map(T_LIST, T_STRUCT, 1) + e.list(T_STRING, 0)
                + e.field(T_I32, 1) + e.i32(4) + e.stop + e.stop)
    if protocol == P.Binary:
        assert weird.serialize_with_protocol(inst, protocol) == expected


@pytest.mark.parametrize("protocol", ALL_PROTOCOLS)
def test_default_without_python_form_reads_none_and_still_serializes(protocol):
    wd = S("WeirdDefault")
    inst = wd.new_instance()
    assert (inst.m, inst.to_dict()) == (None, {"m": None, "z": None})
    assert wd.serialize_with_protocol(inst, protocol) == wd.serialize_with_protocol({}, protocol)
    if protocol != P.JSON:
        assert wd.deserialize_with_protocol(wd.serialize_with_protocol(inst, protocol), protocol).m is None


# ---------------------------------------------------------------------------------------
# Stored values become Python objects on first read

def test_stored_values_become_python_objects():
    inst = S("Fresh").new_instance()
    assert inst.to_dict() == {"s": [1, 1], "m": {"a": 3, "b": 2}, "bin": b"ab", "d": 3.0, "t": True, "y": 44,
                              "leaf": inst.leaf, "later": inst.later}
    assert [type(v) for v in (inst.d, inst.t, inst.y)] == [float, bool, int]
    assert list(inst.m) == ["a", "b"]
    assert inst.s is inst.s and inst.leaf is inst.leaf
    assert (inst.leaf.struct_name, inst.leaf.to_dict()) == ("Leaf", {"s": None})
    # a struct value whose type the document does not know lists its own (no) fields
    assert (inst.later.struct_name, inst.later.field_names()) == ("Later", [])


@pytest.mark.parametrize("protocol", [velmora.ProtocolType.Binary, velmora.ProtocolType.Compact])
def test_values_longer_than_the_wire_can_state_are_refused(protocol):
    # lengths travel as signed 32-bit numbers; a wrapped length would corrupt the output
    p = velmora.ThriftParser()
    p.parse("struct B { 1: binary b }")
    huge = bytes(2**31)
    with pytest.raises(OverflowError, match="too large for the wire"):
        p.get_struct("B").serialize_with_protocol({"b": huge}, protocol)
