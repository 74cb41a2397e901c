// Working memory of the numeric kernels, kept from call to call.
//
// A placement allocates the same few arrays on every call; taking them from a
// per-thread buffer that stays allocated saves the allocator round trips that
// dominate small calls. The kernels run no Python code, so a buffer is never
// in use twice at once on one thread; should it be (a nested use of the same
// slot), the nested user simply gets memory of its own. Requests above
// kRetainedBytes are served from the heap and freed afterwards, so a thread
// keeps at most that much per slot after a very large call. It lives with the
// cost kernels, which the assignment kernels build on, so that both can use
// it and the dependency between them runs one way.
#pragma once

#include <cstddef>

namespace tavelin {

class Scratch {
public:
    // Independent buffers for users whose lifetimes overlap: the placement's
    // assignment matrix, the assignment's work arrays, the cost builder's
    // working rows and the assignment's padded copy of the weights.
    enum Slot { kMatrix, kWork, kCost, kPadded, kSlotCount };

    static constexpr std::size_t kAlignment = 64;
    static constexpr std::size_t kRetainedBytes = std::size_t{8} << 20;

    // At least `bytes` bytes, aligned to kAlignment, valid until destruction.
    // Throws std::bad_alloc.
    Scratch(Slot slot, std::size_t bytes);
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch();

    std::byte* data() const noexcept { return data_; }

private:
    std::byte* data_ = nullptr;
    bool* busy_ = nullptr;  // the thread's buffer in use, when not owned
    bool owned_ = false;    // heap memory of this object alone
};

// Hands out consecutive, aligned arrays from one block.
class Carver {
public:
    explicit Carver(std::byte* base) noexcept : next_(base) {}

    template <class T>
    T* take(std::size_t count) noexcept {
        T* result = reinterpret_cast<T*>(next_);
        next_ += round_up(count * sizeof(T));
        return result;
    }

    // The bytes that take<T>(count) uses, for sizing the block beforehand.
    template <class T>
    static constexpr std::size_t bytes(std::size_t count) noexcept {
        return round_up(count * sizeof(T));
    }

private:
    // Arrays follow each other at 16-byte steps (every element type is
    // aligned, vectors are read unaligned), so that a small problem's
    // arrays share cache lines instead of taking one each.
    static constexpr std::size_t kStep = 16;
    static constexpr std::size_t round_up(std::size_t n) noexcept {
        return (n + kStep - 1) / kStep * kStep;
    }
    std::byte* next_;
};

}  // namespace tavelin
