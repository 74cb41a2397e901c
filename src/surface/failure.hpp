// Internal failures of the module's own logic.
//
// Plain C++ with no Python API, so that the numeric kernels can report a
// violated invariant without knowing about the interpreter. The failure
// boundary of every entry point catches an InternalFailure, writes a one-line
// diagnostic with the text and its source location to standard error and
// raises the internal-error exception carrying the text.
#pragma once

#include <source_location>
#include <string>
#include <utility>

namespace tavelin {

struct InternalFailure {
    std::string text;
    std::source_location where;
};

[[noreturn]] inline void fail(std::string text,
                              std::source_location where = std::source_location::current()) {
    throw InternalFailure{std::move(text), where};
}

// The text every reader of X uses for an index outside the array.
inline constexpr const char* kIndexOutOfBounds = "ndarray: index out of bounds";

}  // namespace tavelin
