// One realistic document, parsed end to end and rendered whole.
#include <gtest/gtest.h>

#include "parser/parser.hpp"
#include "test_util.hpp"

namespace velmora {
namespace {

constexpr const char* kAccountsIdl = R"IDL(#!/usr/local/bin/thrift --gen py
/**
 * Accounts service.
 */
include "shared.thrift"
include "common/types.thrift"

namespace py accounts.gen
namespace java com.example.accounts
namespace * accounts

typedef i64 UserId
typedef map<string, string> (python.type = "dict") Attributes

const i32 MAX_NAME = 64;
const double RATE = 0.25
const list<string> ROLES = ['admin', 'user'],
const Status DEFAULT_STATUS = Status.ACTIVE  // Status is not declared yet: a named type here

enum Status {
  ACTIVE = 1,
  SUSPENDED,   // 2
  DELETED = 0x10 (deprecated = "yes");
}

struct Address {
  1: required string street,
  2: optional string city = "Berlin",
  3: i16 zip = MAX_NAME
}

struct User {
  1: required UserId id
  2: string name = "anonymous";
  3: Status status = Status.SUSPENDED,
  4: list<Address> addresses = [],
  5: Attributes attributes = {"tier": "gold"},
  6: set<i8> flags = [1, 2, 2],
  7: double score = 1.5,
  8: binary avatar,
  9: shared.Point location,
  10: optional User & referrer
  bool verified = false
}

union Contact { 1: string email; 2: string phone }

exception NotFound {
  1: string message = 'not found'
  2: UserId id
}

exception Invalid extends NotFound { 3: list<string> problems }

service Store {
  void ping(),
}

service Accounts extends shared.Store {
  User get(1: UserId id) throws (1: NotFound nf),
  UserId create(1: User user, 2: bool notify = 1) throws (1: Invalid bad, 2: NotFound nf)
  oneway void touch(1: UserId id) (priority = "low")
  map<Status, list<User>> by_status()
}
)IDL";

TEST(Document, RealisticEndToEnd) {
    const ThriftDocument doc = test::must_parse(kAccountsIdl);
    EXPECT_EQ(test::render_sorted(doc), R"(includes: "shared.thrift" "common/types.thrift" 
namespace * = accounts
namespace java = com.example.accounts
namespace py = accounts.gen
enum Status {"ACTIVE": 1, "DELETED": 16, "SUSPENDED": 2}
struct Address
ThriftField { id: 1, name: "street", required: true, field_type: String, default_value: None }
ThriftField { id: 2, name: "city", required: false, field_type: String, default_value: Some(String("Berlin")) }
ThriftField { id: 3, name: "zip", required: false, field_type: I16, default_value: None }
struct Contact
ThriftField { id: 1, name: "email", required: false, field_type: String, default_value: None }
ThriftField { id: 2, name: "phone", required: false, field_type: String, default_value: None }
struct Invalid
ThriftField { id: 1, name: "message", required: false, field_type: String, default_value: Some(String("not found")) }
ThriftField { id: 2, name: "id", required: false, field_type: I64, default_value: None }
ThriftField { id: 3, name: "problems", required: false, field_type: List(String), default_value: None }
struct NotFound
ThriftField { id: 1, name: "message", required: false, field_type: String, default_value: Some(String("not found")) }
ThriftField { id: 2, name: "id", required: false, field_type: I64, default_value: None }
struct User
ThriftField { id: 1, name: "id", required: true, field_type: I64, default_value: None }
ThriftField { id: 2, name: "name", required: false, field_type: String, default_value: Some(String("anonymous")) }
ThriftField { id: 3, name: "status", required: false, field_type: I32, default_value: Some(I32(2)) }
ThriftField { id: 4, name: "addresses", required: false, field_type: List(Struct("Address")), default_value: Some(List([])) }
ThriftField { id: 5, name: "attributes", required: false, field_type: Map(String, String), default_value: Some(Map([(String("tier"), String("gold"))])) }
ThriftField { id: 6, name: "flags", required: false, field_type: Set(Byte), default_value: Some(Set([Byte(1), Byte(2), Byte(2)])) }
ThriftField { id: 7, name: "score", required: false, field_type: Double, default_value: Some(Double(1.5)) }
ThriftField { id: 8, name: "avatar", required: false, field_type: Binary, default_value: None }
ThriftField { id: 9, name: "location", required: false, field_type: Struct("shared.Point"), default_value: None }
ThriftField { id: 10, name: "referrer", required: false, field_type: Struct("User"), default_value: None }
ThriftField { id: -1, name: "verified", required: false, field_type: Bool, default_value: Some(Bool(false)) }
service Accounts
  Struct("void") ping
  Struct("User") get
    arg ThriftField { id: 1, name: "id", required: false, field_type: I64, default_value: None }
    throws ThriftField { id: 1, name: "nf", required: false, field_type: Struct("NotFound"), default_value: None }
  I64 create
    arg ThriftField { id: 1, name: "user", required: false, field_type: Struct("User"), default_value: None }
    arg ThriftField { id: 2, name: "notify", required: false, field_type: Bool, default_value: Some(Bool(true)) }
    throws ThriftField { id: 1, name: "bad", required: false, field_type: Struct("Invalid"), default_value: None }
    throws ThriftField { id: 2, name: "nf", required: false, field_type: Struct("NotFound"), default_value: None }
  oneway Struct("void") touch
    arg ThriftField { id: 1, name: "id", required: false, field_type: I64, default_value: None }
  Map(I32, List(Struct("User"))) by_status
service Store
  Struct("void") ping
)");
    // The document is a plain value: a copy renders the same and is independent.
    ThriftDocument copy = doc;
    copy.structs.erase("User");
    EXPECT_EQ(doc.structs.count("User"), 1u);
    EXPECT_EQ(to_debug_string(doc.structs.at("Contact")),
              R"(ThriftStruct { name: "Contact", fields: [ThriftField { id: 1, name: "email", required: false, )"
              R"(field_type: String, default_value: None }, ThriftField { id: 2, name: "phone", required: false, )"
              R"(field_type: String, default_value: None }] })");
}

}  // namespace
}  // namespace velmora
