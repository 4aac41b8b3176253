"""velmora demo: parse an IDL at run time, build struct data, and round-trip it through the
Binary, Compact and JSON protocols."""
from pathlib import Path

import velmora

HERE = Path(__file__).resolve().parent
P = velmora.ProtocolType


def show_schema(parser):
    print("== schema")
    print("structs: ", sorted(parser.list_structs()))
    print("enums:   ", {name: parser.get_enum(name) for name in parser.list_enums()})
    service = parser.get_service("Directory")
    print("service: ", service)
    for method in service.methods:
        print("   ", method, [f.name for f in method.arguments], "throws", [f.name for f in method.exceptions])
    print(parser.get_struct("PhoneNumber"))


def main():
    parser = velmora.ThriftParser()
    parser.parse((HERE / "demo.thrift").read_text())
    show_schema(parser)

    Person = parser.get_struct("Person")
    PhoneNumber = parser.get_struct("PhoneNumber")
    AddressBook = parser.get_struct("AddressBook")

    print("\n== instances and dicts")
    ada = Person(name="Ada", id=1, email="ada@example.org",
                 phones=[PhoneNumber(number="+44 1234", type=1)],
                 tags=["math", "engines"], scores={"chess": 9.5}, avatar=b"\x89PNG")
    print("an instance:", ada)
    ada.id = 2
    print("after ada.id = 2:", ada.id, "; fields:", ada.field_names())
    grace = {"name": "Grace", "id": 3, "phones": [{"number": "555-0100"}]}  # a plain dict works too
    book = {"people": [ada, grace], "updated_at": 1_700_000_000_000}

    for protocol in (P.Binary, P.Compact, P.JSON):
        data = AddressBook.serialize_with_protocol(book, protocol)
        shown = data.decode() if protocol is P.JSON else data.hex(" ")
        print(f"\n== {protocol}: {len(data)} bytes")
        print(shown if len(shown) < 400 else shown[:400] + " ...")
        back = AddressBook.deserialize_with_protocol(data, protocol)
        people = back.people
        print("read back:", [p.name for p in people], "phones of", people[1].name, "->",
              [ph.to_dict() for ph in people[1].phones])
        assert AddressBook.serialize_with_protocol(back, protocol) == data

    print("\n== errors are Python exceptions")
    for bad in (lambda: Person.serialize({"name": "x", "id": "not a number"}),
                lambda: Person.deserialize(b"\x0b\x00\x01\x00\x00\x00\xff"),
                lambda: parser.parse("struct Broken {")):
        try:
            bad()
        except (TypeError, OSError, ValueError) as e:
            print(f"{type(e).__name__}: {e}")


if __name__ == "__main__":
    main()
