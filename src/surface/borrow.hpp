// A read-only borrow of a NumPy array for the duration of one call.
#pragma once

#include <Python.h>

#include "surface/borrow_registry.hpp"
#include "surface/ref.hpp"

namespace tavelin {

// Registers a read-only borrow of a checked float64 matrix and holds a
// reference to it until released (explicitly or on destruction). Refused with
// the internal failure "called `Result::unwrap()` on an `Err` value:
// AlreadyBorrowed" when the same memory is borrowed exclusively.
class ReadBorrow {
public:
    explicit ReadBorrow(PyObject* array);
    ReadBorrow(const ReadBorrow&) = delete;
    ReadBorrow& operator=(const ReadBorrow&) = delete;
    ~ReadBorrow() { release(); }

    void release() noexcept;

private:
    Ref array_;
    BorrowKey key_;
};

}  // namespace tavelin
