// A read-only view of a two-dimensional float64 array given by a data
// pointer, its two dimensions and its two byte strides.
//
// Strides may be negative or zero and the data need not be aligned, so every
// element is read with memcpy. Callers test indices against rows and cols
// before they read; at() itself does not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavelin {

struct StridedMatrix {
    const char* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t row_stride = 0;  // bytes
    std::ptrdiff_t col_stride = 0;  // bytes

    const char* address(std::size_t i, std::size_t j) const noexcept {
        // For a real array with i < rows and j < cols the offset lies inside
        // its memory. Strides forged by the caller could make the signed
        // products overflow, so the offset is formed with wrap-around
        // unsigned arithmetic, which is defined for every input.
        std::uintptr_t offset = static_cast<std::uintptr_t>(i) * static_cast<std::uintptr_t>(row_stride) +
                                static_cast<std::uintptr_t>(j) * static_cast<std::uintptr_t>(col_stride);
        return data + static_cast<std::ptrdiff_t>(offset);
    }

    double at(std::size_t i, std::size_t j) const noexcept {
        double value;
        std::memcpy(&value, address(i, j), sizeof value);
        return value;
    }
};

}  // namespace tavelin
