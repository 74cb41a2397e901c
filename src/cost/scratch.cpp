#include "cost/scratch.hpp"

#include <new>

namespace tavelin {
namespace {

struct Buffer {
    std::byte* data = nullptr;
    std::size_t capacity = 0;
    bool busy = false;

    ~Buffer() { release(); }
    void release() noexcept {
        if (data != nullptr) ::operator delete(data, std::align_val_t{Scratch::kAlignment});
        data = nullptr;
        capacity = 0;
    }
};

std::byte* allocate(std::size_t bytes) {
    return static_cast<std::byte*>(::operator new(bytes == 0 ? 1 : bytes,
                                                  std::align_val_t{Scratch::kAlignment}));
}

thread_local Buffer t_buffers[Scratch::kSlotCount];

}  // namespace

Scratch::Scratch(Slot slot, std::size_t bytes) {
    Buffer& buffer = t_buffers[slot];
    if (buffer.busy || bytes > kRetainedBytes) {
        data_ = allocate(bytes);
        owned_ = true;
        return;
    }
    if (buffer.capacity < bytes) {
        buffer.release();
        // Grow in steps, so that slowly growing calls reallocate rarely.
        std::size_t capacity = bytes < 4096 ? 4096 : bytes + bytes / 2;
        if (capacity > kRetainedBytes) capacity = kRetainedBytes;
        buffer.data = allocate(capacity);
        buffer.capacity = capacity;
    }
    buffer.busy = true;
    busy_ = &buffer.busy;
    data_ = buffer.data;
}

Scratch::~Scratch() {
    if (owned_) {
        ::operator delete(data_, std::align_val_t{kAlignment});
    } else {
        *busy_ = false;  // the thread's buffer, found once
    }
}

}  // namespace tavelin
