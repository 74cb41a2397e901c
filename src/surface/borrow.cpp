#include "surface/borrow.hpp"

#include <numeric>

#include "surface/failure.hpp"
#include "surface/numpy_api.hpp"

namespace tavelin {
namespace {

BorrowRegistry& registry() {
    static BorrowRegistry instance;  // process-wide, used under the interpreter lock only
    return instance;
}

// The object that owns the buffer: follow the chain of array bases to the
// first array without one, or to a non-array owner (a bytes object, an mmap).
const void* buffer_owner(PyObject* array) {
    PyObject* current = array;
    for (;;) {
        PyObject* base = array_base(current);
        if (base == nullptr) return current;
        if (!is_array(base)) return base;
        current = base;
    }
}

std::uintptr_t magnitude(std::ptrdiff_t stride) noexcept {
    std::uintptr_t bits = static_cast<std::uintptr_t>(stride);
    return stride < 0 ? 0 - bits : bits;
}

BorrowKey key_of(PyObject* array) {
    StridedMatrix view = matrix_view(array);
    BorrowKey key;
    key.owner = buffer_owner(array);
    key.data = reinterpret_cast<std::uintptr_t>(view.data);
    key.stride_gcd = std::gcd(magnitude(view.row_stride), magnitude(view.col_stride));
    if (view.rows == 0 || view.cols == 0) {
        key.low = key.high = key.data;
        return key;
    }
    // The span reaches from the lowest to the highest element address.
    std::uintptr_t first = key.data;
    std::uintptr_t last_row = reinterpret_cast<std::uintptr_t>(view.address(view.rows - 1, 0));
    std::uintptr_t last_col = reinterpret_cast<std::uintptr_t>(view.address(0, view.cols - 1));
    std::uintptr_t low = first, high = first;
    for (std::uintptr_t edge : {last_row, last_col}) {
        std::intptr_t offset = static_cast<std::intptr_t>(edge - first);
        if (offset < 0) low -= static_cast<std::uintptr_t>(-offset);
        else high += static_cast<std::uintptr_t>(offset);
    }
    key.low = low;
    key.high = high + sizeof(double);
    return key;
}

}  // namespace

ReadBorrow::ReadBorrow(PyObject* array) : key_(key_of(array)) {
    if (!registry().acquire_shared(key_)) {
        refuse("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed");
    }
    array_ = Ref::borrow(array);
}

void ReadBorrow::release() noexcept {
    if (!array_) return;
    registry().release(key_);
    array_ = Ref();
}

}  // namespace tavelin
