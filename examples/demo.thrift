// A small address book: the schema the demo parses at run time.
namespace py addressbook

enum PhoneType { MOBILE = 0, HOME = 1, WORK = 2 }

struct PhoneNumber {
  1: required string number
  2: PhoneType type = PhoneType.MOBILE
}

struct Person {
  1: required string name
  2: i32 id
  3: optional string email
  4: list<PhoneNumber> phones
  5: set<string> tags
  6: map<string, double> scores
  7: binary avatar
  8: bool active = true
}

struct AddressBook {
  1: list<Person> people
  2: i64 updated_at
}

exception NotFound { 1: string message }

service Directory {
  Person lookup(1: string name) throws (1: NotFound missing)
  void add(1: Person person)
}
