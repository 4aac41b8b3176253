"""The module's surface: its classes, their flags, and the two enumerations."""
import weakref

import pytest

import velmora

CLASSES = [
    "ThriftParser", "BinaryProtocol", "ThriftStruct", "ThriftField", "ThriftStructInstance",
    "PyThriftService", "PyThriftMethod", "ThriftServer", "ProtocolType", "CompactProtocol",
    "JSONProtocol", "TransportType", "ThriftClient", "ThriftApplicationException",
]
CONSTRUCTIBLE_SIGNATURES = {
    "ThriftParser": "()",
    "BinaryProtocol": "()",
    "ThriftStructInstance": "(struct_name, **kwargs)",
    "ThriftServer": "(service, transport=..., workers=1, protocol=...)",
    "CompactProtocol": "()",
    "JSONProtocol": "()",
    "TransportType": "()",
    "ThriftClient": "(service, host, port, transport=..., protocol=...)",
    "ThriftApplicationException": "(message, type_)",
}

T = velmora.TransportType
P = velmora.ProtocolType


def test_module_holds_exactly_the_classes_in_registration_order():
    public = [n for n in vars(velmora) if not n.startswith("__")]
    assert public == CLASSES
    assert sorted(n for n in dir(velmora) if not n.startswith("__")) == sorted(CLASSES)


@pytest.mark.parametrize("name", CLASSES)
def test_class_flags_and_docstring(name):
    cls = getattr(velmora, name)
    assert cls.__name__ == name and cls.__qualname__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    base = Exception if name == "ThriftApplicationException" else object
    assert cls.__bases__ == (base,)
    if name in CONSTRUCTIBLE_SIGNATURES:
        assert cls.__text_signature__ == CONSTRUCTIBLE_SIGNATURES[name]
    else:
        assert cls.__doc__ is None
        with pytest.raises(TypeError):
            cls()


@pytest.mark.parametrize("make", [velmora.ThriftParser, velmora.BinaryProtocol, velmora.CompactProtocol,
                                  velmora.JSONProtocol, velmora.TransportType])
def test_instances_have_no_dict_and_no_weakrefs(make):
    obj = make()
    assert not hasattr(obj, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(obj)
    with pytest.raises(AttributeError):
        obj.anything = 1


def test_docstring_prose():
    assert T.__doc__ == (
        "Transport layer to use when reading/writing Thrift messages over TCP.\n\n"
        "* `Framed`   \u2013 each message is prefixed by a 4-byte big-endian frame length.\n"
        "* `Buffered` \u2013 messages are written directly to the socket with no framing.")
    assert velmora.ThriftStructInstance.__doc__.startswith("A live instance of a Thrift struct.\n\n")
    assert velmora.ThriftApplicationException.__doc__ == (
        "A Thrift application-level exception returned by the remote server.")
    assert velmora.ThriftParser.__doc__ == ""


@pytest.mark.parametrize("value, text, number", [
    (T.Framed, "TransportType.Framed", 0), (T.Buffered, "TransportType.Buffered", 1),
    (P.Binary, "ProtocolType.Binary", 0), (P.Compact, "ProtocolType.Compact", 1),
    (P.JSON, "ProtocolType.JSON", 2),
])
def test_enum_repr_and_int(value, text, number):
    assert repr(value) == text
    assert int(value) == number
    assert type(value).__dict__[text.split(".")[1]] is value


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


@pytest.mark.parametrize("left, right, equal", [
    (T.Framed, T.Framed, True),
    (T.Framed, T.Buffered, False),
    (T(), T.Framed, True),
    (T.Framed, 0, True),
    (T.Buffered, 1, True),
    (T.Buffered, True, True),
    (T.Framed, False, True),
    (T.Buffered, Index(1), True),
    (T.Buffered, 2**100, False),
    (T.Framed, "Framed", False),
    (T.Framed, 0.0, False),
    (T.Framed, None, False),
    (P.JSON, P.JSON, True),
    (P.JSON, 2, False),
    (P.Binary, P.Compact, False),
])
def test_equality_rules(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)
    assert (right == left) is equal


def test_transport_type_singletons_and_constructor():
    assert T.Framed is T.Framed
    fresh = T()
    assert fresh is not T.Framed and fresh == T.Framed
    with pytest.raises(TypeError):
        T(1)
    with pytest.raises(TypeError):
        T(value=1)
    assert list(k for k in vars(T) if not k.startswith("_")) == ["Framed", "Buffered"]
    assert list(k for k in vars(P) if not k.startswith("_")) == ["Binary", "Compact", "JSON"]


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_transport_type_has_no_ordering(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": T.Framed, "b": T.Buffered})


def test_hashing():
    for bad in (lambda: hash(T.Framed), lambda: {T.Framed}, lambda: {T.Buffered: 1}):
        with pytest.raises(TypeError):
            bad()
    assert {P.Binary: 1}[P.Binary] == 1
    assert len({P.Binary, P.Compact, P.JSON, P.Binary}) == 3


def test_application_exception():
    E = velmora.ThriftApplicationException
    e = E("bo\"om\n\t\\", 6)
    assert isinstance(e, Exception)
    assert (e.message, e.type_, e.args, str(e)) == ("bo\"om\n\t\\", 6, ("bo\"om\n\t\\", 6), "bo\"om\n\t\\")
    assert repr(e) == 'ThriftApplicationException(type=6, message="bo\\"om\\n\\t\\\\")'
    assert E(type_=-2, message="x").args == ("x", -2)
    assert repr(E("\x01é\u00a0", 0)) == 'ThriftApplicationException(type=0, message="\\u{1}é\\u{a0}")'
    with pytest.raises(E) as info:
        raise E("boom", 1)
    assert info.value.type_ == 1
    with pytest.raises(AttributeError):
        e.message = "other"


@pytest.mark.parametrize("args, error, name", [
    ((1, 2), TypeError, "message"),
    (("m", "2"), TypeError, "type_"),
    (("m", 1.5), TypeError, "type_"),
    (("m", 2**31), OverflowError, "type_"),
    (("m",), TypeError, "type_"),
])
def test_application_exception_argument_errors(args, error, name):
    with pytest.raises(error, match=name):
        velmora.ThriftApplicationException(*args)
