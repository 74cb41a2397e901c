// Registry of borrowed array memory: any number of read-only borrows of the
// same memory may coexist, an exclusive borrow excludes every other borrow.
//
// Plain C++: the caller describes a borrowed array by the identity of the
// object that owns its buffer, the address range it spans, its data pointer
// and the greatest common divisor of its strides. Two borrows concern the same
// memory when they share an owner, their ranges overlap and their data
// pointers differ by a multiple of the gcd of their strides (otherwise two
// interleaved views, such as the even and odd columns, never meet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavelin {

struct BorrowKey {
    const void* owner = nullptr;
    std::uintptr_t low = 0;   // first byte spanned
    std::uintptr_t high = 0;  // one past the last byte spanned; low == high when empty
    std::uintptr_t data = 0;
    std::uintptr_t stride_gcd = 0;

    bool operator==(const BorrowKey&) const = default;
};

class BorrowRegistry {
public:
    // Both return false, registering nothing, when the borrow conflicts.
    bool acquire_shared(const BorrowKey& key);
    bool acquire_exclusive(const BorrowKey& key);
    void release(const BorrowKey& key) noexcept;
    std::size_t size() const noexcept { return entries_.size(); }

private:
    struct Entry {
        BorrowKey key;
        long readers;  // -1 for an exclusive borrow
    };
    bool conflicts(const BorrowKey& key, bool exclusive) const noexcept;
    std::vector<Entry> entries_;
};

// Whether two borrows may touch the same bytes.
bool same_memory(const BorrowKey& a, const BorrowKey& b) noexcept;

}  // namespace tavelin
