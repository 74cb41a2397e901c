// Failures of the module's own logic, of two kinds.
//
// Plain C++ with no Python API, so that the numeric kernels can report a
// failure without knowing about the interpreter:
//   * refuse(): the call cannot be served as asked: a team or index outside X,
//     a team without home slots, a dictionary changed while it was read, a
//     table too large to size, X borrowed elsewhere, NumPy out of reach;
//   * fail(): an invariant of the module itself does not hold (a bug).
// Callers see both the same way: the failure boundary of every entry point
// (surface/panic.hpp) catches an InternalFailure, writes a one-line
// diagnostic with the text and its source location to standard error and
// raises the internal-error exception carrying the text.
#pragma once

#include <source_location>
#include <string>
#include <utility>

namespace tavelin {

enum class FailureKind {
    refused,  // the caller's request or environment
    broken,   // a violated invariant
};

struct InternalFailure {
    FailureKind kind;
    std::string text;
    std::source_location where;
};

[[noreturn]] inline void refuse(std::string text, std::source_location where = std::source_location::current()) {
    throw InternalFailure{FailureKind::refused, std::move(text), where};
}

[[noreturn]] inline void fail(std::string text, std::source_location where = std::source_location::current()) {
    throw InternalFailure{FailureKind::broken, std::move(text), where};
}

// The text every reader of X uses for an index outside the array.
inline constexpr const char* kIndexOutOfBounds = "ndarray: index out of bounds";

}  // namespace tavelin
