"""Struct type objects and live struct instances."""
import pytest

import velmora

P = velmora.ProtocolType

IDL = """
struct Point { 1: i32 x; 2: i32 y }
struct Shape {
  1: i32 id; 2: string name = "unnamed"; 3: list<i32> tags; 4: set<i32> ids = [1, 2];
  5: Point origin; 6: list<Point> points; 7: required i32 size = 3
}
struct Shadow { 1: i32 to_dict; 2: string struct_name; 3: i32 plain }
struct Empty {}
"""

PARSER = velmora.ThriftParser()
PARSER.parse(IDL)
POINT, SHAPE, SHADOW, EMPTY = (PARSER.get_struct(n) for n in ("Point", "Shape", "Shadow", "Empty"))
SHAPE_DEFAULTS = {"id": None, "name": "unnamed", "tags": None, "ids": [1, 2], "origin": None, "points": None,
                  "size": 3}


# ---------------------------------------------------------------------------------------
# ThriftStruct

@pytest.mark.parametrize("make", [
    SHAPE.new_instance, SHAPE, lambda: SHAPE.new_instance_from_dict({}), lambda: SHAPE(**{}),
    lambda: SHAPE.new_instance_from_dict({"nope": 1, 5: 2}),
])
def test_new_instances_start_with_defaults(make):
    inst = make()
    assert inst.struct_name == "Shape"
    assert inst.to_dict() == SHAPE_DEFAULTS
    assert inst.field_names() == list(SHAPE_DEFAULTS)
    # the defaults are written
    assert SHAPE.deserialize(SHAPE.serialize(make())).to_dict() == SHAPE_DEFAULTS


def test_empty_struct():
    assert EMPTY.new_instance().field_names() == []
    assert repr(EMPTY()) == "Empty()"
    assert EMPTY.serialize(EMPTY()) == b"\x00"


def test_filling_from_a_dict_never_fails_and_keeps_the_objects_given():
    tags = [1, 2]
    bad = object()
    inst = SHAPE(id="seven", name=None, tags=tags, origin={"x": 1}, size=bad)
    assert inst.id == "seven" and inst.tags is tags and inst.size is bad
    assert inst.name is None and inst.origin == {"x": 1}
    assert inst.ids == [1, 2]
    # the object given, not the default, is what serialization sees
    with pytest.raises(TypeError) as info:
        SHAPE.serialize(inst)
    assert str(info.value) == "'str' object cannot be interpreted as an integer"
    inst.id = 1
    with pytest.raises(TypeError):
        SHAPE.serialize(inst)  # size is still the object
    inst.size = None
    back = SHAPE.deserialize(SHAPE.serialize(inst)).to_dict()
    origin = back.pop("origin")
    assert back == {"id": 1, "name": None, "tags": [1, 2], "ids": [1, 2], "points": None, "size": None}
    assert origin.to_dict() == {"x": 1, "y": None}


def test_filling_from_a_dict_subclass_and_argument_errors():
    class D(dict):
        pass

    assert SHAPE.new_instance_from_dict(D(id=4)).id == 4
    with pytest.raises(TypeError) as info:
        SHAPE.new_instance_from_dict([("id", 4)])
    assert str(info.value) == "argument 'items': 'list' object is not an instance of 'dict'"
    with pytest.raises(TypeError):
        SHAPE(4)
    with pytest.raises(TypeError):
        velmora.ThriftStruct()


def test_dictionary_changed_while_filling():
    items = {"id": None, "tags": None}

    class Grows:
        def __index__(self):
            items["extra"] = 1
            return 1

    items["id"] = Grows()
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        SHAPE.new_instance_from_dict(items)


def test_deserialize():
    inst = SHAPE.deserialize(SHAPE.serialize({"id": 5}))
    assert inst.to_dict() == SHAPE_DEFAULTS | {"id": 5}
    # an instance read from the wire has no defaults of its own: fields absent on the wire are None
    assert SHAPE.deserialize(b"\x00").to_dict() == dict.fromkeys(SHAPE_DEFAULTS)
    with pytest.raises(TypeError, match="argument 'data'"):
        SHAPE.deserialize(bytearray(b"\x00"))
    with pytest.raises(OSError) as info:
        SHAPE.deserialize(b"")
    assert str(info.value).startswith("Read error: ")
    assert OSError is IOError


@pytest.mark.parametrize("method, signature, doc", [
    ("new_instance", "($self)", "Construct an empty ThriftStructInstance with all fields set to None."),
    ("new_instance_from_dict", "($self, items)", None),
    ("serialize", "($self, data)", "Serialize a struct from either a `ThriftStructInstance` or a plain `dict`."),
    ("serialize_with_protocol", "($self, data, protocol)",
     "Serialize a struct from either a `ThriftStructInstance` or a plain `dict` using specific protocol."),
    ("deserialize", "($self, data)", "Deserialize bytes into a `ThriftStructInstance`."),
    ("deserialize_with_protocol", "($self, data, protocol)", None),
])
def test_struct_method_signatures(method, signature, doc):
    m = getattr(velmora.ThriftStruct, method)
    assert (m.__text_signature__, m.__doc__) == (signature, doc)


# ---------------------------------------------------------------------------------------
# ThriftStructInstance

def test_attribute_reads_return_the_same_object_and_see_changes():
    inst = SHAPE.deserialize(SHAPE.serialize({"tags": [1], "points": [{"x": 1}]}))
    assert inst.tags is inst.tags and inst.points is inst.points
    inst.tags.append(2)
    inst.points[0].y = 9
    assert inst.to_dict()["tags"] is inst.tags
    again = SHAPE.deserialize(SHAPE.serialize(inst))
    assert again.tags == [1, 2] and again.points[0].to_dict() == {"x": 1, "y": 9}


def test_attribute_writes_are_never_refused_for_valid_fields():
    inst = SHAPE()
    inst.ids = None
    assert inst.ids is None
    assert SHAPE.deserialize(SHAPE.serialize(inst)).ids is None
    inst.id = "x"
    assert inst.id == "x"
    with pytest.raises(TypeError):
        SHAPE.serialize(inst)


@pytest.mark.parametrize("make, name", [
    (lambda: POINT(x=1), "Point"),
    (lambda: velmora.ThriftStructInstance("S", a=1), "S"),
    (lambda: POINT.deserialize(b"\x00"), "Point"),
])
def test_unknown_attributes(make, name):
    inst = make()
    with pytest.raises(AttributeError) as info:
        inst.zz
    assert str(info.value) == f"'{name}' object has no attribute 'zz'"
    with pytest.raises(AttributeError) as info:
        inst.zz = 1
    assert str(info.value) == f"'{name}' object has no attribute 'zz'"
    for attr in ("zz", inst.field_names()[0]):
        with pytest.raises(AttributeError) as info:
            delattr(inst, attr)
        assert str(info.value) == "can't delete attribute"
    with pytest.raises(AttributeError):
        inst.__dict__
    with pytest.raises(TypeError, match="argument 'name'"):
        inst.__setattr__(1, 2)


def test_type_members_shadow_fields_on_read_but_not_on_write():
    inst = SHADOW(plain=1)
    assert callable(inst.to_dict) and inst.struct_name == "Shadow"
    inst.to_dict = 5
    inst.struct_name = "field value"
    assert inst.to_dict() == {"to_dict": 5, "struct_name": "field value", "plain": 1}
    assert inst.struct_name == "Shadow"
    assert SHADOW.deserialize(SHADOW.serialize(inst)).to_dict() == inst.to_dict()
    with pytest.raises(AttributeError) as info:
        POINT().struct_name = "x"
    assert str(info.value) == "'Point' object has no attribute 'struct_name'"


def test_to_dict_field_names_and_repr():
    inst = POINT(x=1)
    d = inst.to_dict()
    assert d == {"x": 1, "y": None} and list(d) == ["x", "y"]
    assert inst.to_dict() is not d and inst.field_names() is not inst.field_names()
    assert repr(inst) == "Point(x=1, y=None)"
    nested = SHAPE(name='quo"te', origin=POINT(y=2))
    assert repr(nested) == ("Shape(id=None, name='quo\"te', tags=None, ids=[1, 2], "
                            "origin=Point(x=None, y=2), points=None, size=3)")


def test_constructor_builds_an_instance_without_schema():
    a = object()
    inst = velmora.ThriftStructInstance("S", b=1, a=a)
    assert inst.field_names() == ["b", "a"] and inst.a is a
    assert repr(inst) == f"S(b=1, a={a!r})"
    inst.b = [1, "x"]
    assert inst.to_dict() == {"b": [1, "x"], "a": a}
    assert velmora.ThriftStructInstance(struct_name="K").field_names() == []
    assert repr(velmora.ThriftStructInstance("K")) == "K()"
    # serializable as any struct whose field names it shares
    assert POINT.serialize(velmora.ThriftStructInstance("Other", x=3, z=4)) == POINT.serialize({"x": 3})


@pytest.mark.parametrize("args, kwargs, text", [
    ((1,), {}, "argument 'struct_name': 'int' object is not an instance of 'str'"),
    ((), {}, None),
    (("S",), {"struct_name": "T"}, None),
    (("S", "T"), {}, None),
])
def test_constructor_argument_errors(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        velmora.ThriftStructInstance(*args, **kwargs)
    if text:
        assert str(info.value) == text


def test_identity_semantics():
    a, b = POINT(x=1), POINT(x=1)
    assert a == a and a != b
    assert len({a, b}) == 2


class Reentrant:
    """A stored object whose repr reaches back into the instance being rendered."""

    def __init__(self, action):
        self.action = action
        self.inst = None

    def __repr__(self):
        return repr(self.action(self.inst))


@pytest.mark.parametrize("action, text", [
    (lambda inst: inst.x, "Already borrowed"),
    (lambda inst: setattr(inst, "x", 1), "Already borrowed"),
    (lambda inst: inst.to_dict(), "Already borrowed"),
    (lambda inst: inst.struct_name, "Already mutably borrowed"),
    (lambda inst: inst.field_names(), "Already mutably borrowed"),
    (lambda inst: POINT.serialize(inst), "Already mutably borrowed"),
])
def test_reentrant_access_is_refused(action, text):
    r = Reentrant(action)
    inst = velmora.ThriftStructInstance("Point", x=0, y=r)
    r.inst = inst
    with pytest.raises(RuntimeError) as info:
        repr(inst)
    assert str(info.value) == text
    # the instance is usable again afterwards
    assert inst.x == 0 and POINT.serialize(POINT(x=0)) == POINT.serialize({"x": inst.x})
