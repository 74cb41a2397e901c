#include "surface/borrow_registry.hpp"

#include <numeric>

namespace tavelin {

bool same_memory(const BorrowKey& a, const BorrowKey& b) noexcept {
    if (a.owner != b.owner) return false;
    if (a.low == a.high || b.low == b.high) return false;  // an empty view spans nothing
    if (a.high <= b.low || b.high <= a.low) return false;
    std::uintptr_t gcd = std::gcd(a.stride_gcd, b.stride_gcd);
    if (gcd == 0) return true;
    std::uintptr_t distance = a.data > b.data ? a.data - b.data : b.data - a.data;
    return distance % gcd == 0;
}

bool BorrowRegistry::conflicts(const BorrowKey& key, bool exclusive) const noexcept {
    for (const Entry& entry : entries_) {
        if ((exclusive || entry.readers < 0) && same_memory(entry.key, key)) return true;
    }
    return false;
}

bool BorrowRegistry::acquire_shared(const BorrowKey& key) {
    if (conflicts(key, false)) return false;
    for (Entry& entry : entries_) {
        if (entry.readers > 0 && entry.key == key) {
            ++entry.readers;
            return true;
        }
    }
    entries_.push_back(Entry{key, 1});
    return true;
}

bool BorrowRegistry::acquire_exclusive(const BorrowKey& key) {
    if (conflicts(key, true)) return false;
    entries_.push_back(Entry{key, -1});
    return true;
}

void BorrowRegistry::release(const BorrowKey& key) noexcept {
    for (std::size_t i = entries_.size(); i-- > 0;) {
        Entry& entry = entries_[i];
        if (!(entry.key == key)) continue;
        if (entry.readers > 1) {
            --entry.readers;
        } else {
            entries_[i] = entries_.back();
            entries_.pop_back();
        }
        return;
    }
}

}  // namespace tavelin
