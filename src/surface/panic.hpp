// The internal-error exception and the failure boundary of every entry point.
//
// Inside the module, failures travel as C++ exceptions: PythonError when a
// Python exception is already set, InternalFailure for a refused request or
// a violated invariant (surface/failure.hpp), std::bad_alloc when memory runs
// out. The boundary turns each into a Python exception so that nothing
// escapes into the interpreter as a crash.
#pragma once

#include <Python.h>

#include <new>

#include "surface/failure.hpp"
#include "surface/ref.hpp"

namespace tavelin {

// Whether `exception` is an instance of the internal-error exception.
bool is_panic_exception(PyObject* exception) noexcept;

// Writes the one-line diagnostic for `failure` to standard error and raises
// the internal-error exception with its text.
void raise_internal_failure(const InternalFailure& failure) noexcept;

// Called with a Python exception pending (or, wrongly, none): makes sure one
// is set, and turns an internal-error exception raised by caller code into a
// fresh one after reporting it on standard error.
void settle_python_error() noexcept;

void raise_unexpected_failure() noexcept;

// Runs `body` and returns its result, or NULL with an exception set.
template <class Body>
PyObject* failure_boundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
        settle_python_error();
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_unexpected_failure();
    }
    return nullptr;
}

}  // namespace tavelin
