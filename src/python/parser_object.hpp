// State of a ThriftParser object and the struct map that clients and servers take from it.
#pragma once

#include <memory>

#include "python/py.hpp"
#include "python/records.hpp"

namespace velmora::py {

struct ParserPayload {
    BorrowFlag borrow;
    std::shared_ptr<const ThriftDocument> document;  // the last successful parse
    // Built on first use for the current document. The map is immutable, so handing out the
    // same one until the next parse is indistinguishable from building a fresh snapshot.
    SharedStructMap struct_map;

    const SharedStructMap& shared_struct_map();
};

// The struct map of a ThriftParser object (empty without a document); nullptr with the
// error set only if memory runs out.
SharedStructMap parser_struct_map(PyObject* parser) noexcept;

}  // namespace velmora::py
