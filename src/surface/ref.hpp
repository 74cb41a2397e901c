// Owned Python references and the C++ signal for "a Python exception is set".
#pragma once

#include <Python.h>

#include <utility>

namespace tavelin {

// Owns one strong reference, or nothing. Move-only; releases on destruction.
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller (for a return value or a stealing API).
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// Thrown after a Python API call failed; the exception stays set in the
// interpreter and the failure boundary returns NULL for it.
struct PythonError {};

// Throws PythonError, first setting SystemError when the failed call set no
// exception (an API function that reports failure must always set one).
[[noreturn]] void throw_python_error();

// Result of an API call that returns a new reference or NULL on failure.
inline Ref checked(PyObject* new_reference) {
    if (new_reference == nullptr) throw_python_error();
    return Ref::steal(new_reference);
}

}  // namespace tavelin
