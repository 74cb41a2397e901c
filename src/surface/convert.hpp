// The argument kinds: checking and converting caller objects into plain
// values, and naming the parameter in a conversion's TypeError.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "surface/ref.hpp"

namespace tavelin {

static_assert(sizeof(long) == 8, "signed 64-bit conversion relies on a 64-bit C long");

// TypeError "'{type}' object cannot be converted to '{target}'".
[[noreturn]] void raise_cannot_convert(PyObject* object, const char* target);

// A dict or dict subclass, returned borrowed.
PyObject* as_dict(PyObject* object);

// Integers through PyLong_AsLong: ints, bools and objects with __index__.
std::int64_t as_i64(PyObject* object);

// Team indices: ints directly, anything else through __index__ first.
std::uint64_t as_u64(PyObject* object);

// Exact floats directly, anything else through __float__ / __index__.
double as_f64(PyObject* object);

// Discards the exception of a failed length query, unless it is the
// internal-error exception raised by caller code, which must not be lost.
void discard_length_error();

// Items reserved up front from a sequence's length, at most.
inline constexpr std::size_t kLargestListReservation = std::size_t{1} << 20;

// A list of T from any sequence but a str, in the order of its iterator.
template <class T, T (*ConvertItem)(PyObject*)>
std::vector<T> as_list(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        throw PythonError{};
    }
    if (!PySequence_Check(object)) raise_cannot_convert(object, "Sequence");
    std::vector<T> items;
    Py_ssize_t hint = PySequence_Size(object);
    if (hint < 0) {
        discard_length_error();
    } else {
        // The length is only the object's claim: a __len__ of the caller's
        // may return any size, and a range may be far longer than anyone
        // will iterate. The reservation is capped so that a false claim
        // costs no more than a few megabytes and never a failed allocation;
        // a longer list grows as its items arrive.
        items.reserve(std::min(static_cast<std::size_t>(hint), kLargestListReservation));
    }
    Ref iterator = checked(PyObject_GetIter(object));
    while (PyObject* next = PyIter_Next(iterator.get())) {
        Ref item = Ref::steal(next);
        items.push_back(ConvertItem(item.get()));
    }
    if (PyErr_Occurred()) throw PythonError{};
    return items;
}

// With a conversion's exception pending: an exception of exactly TypeError
// is replaced by TypeError "argument '{name}': {message}" (keeping its cause,
// suppressing its context); any other exception is left as it is.
void tag_argument_error(const char* name) noexcept;

// Runs one parameter's conversion, tagging its TypeError with the name.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const PythonError&) {
        tag_argument_error(name);
        throw;
    }
}

}  // namespace tavelin
