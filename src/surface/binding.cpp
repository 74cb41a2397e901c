#include "surface/binding.hpp"

#include <cstring>
#include <string>

#include "surface/ref.hpp"

namespace tavelin {
namespace {

std::string full_name(const FunctionDescription& desc) {
    std::string name = desc.class_name;
    name += '.';
    name += desc.function_name;
    name += "()";
    return name;
}

[[noreturn]] void too_many_positional(const FunctionDescription& desc, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given",
                 full_name(desc).c_str(), desc.count, given, given == 1 ? "was" : "were");
    throw PythonError{};
}

void check_positional_count(const FunctionDescription& desc, Py_ssize_t nargs) {
    if (static_cast<std::size_t>(nargs) > desc.count) too_many_positional(desc, nargs);
}

// Puts `value` into the slot of the parameter called `keyword`.
void bind_keyword(const FunctionDescription& desc, PyObject* keyword, PyObject* value,
                  PyObject** slots) {
    Py_ssize_t length = 0;
    const char* text = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &length) : nullptr;
    if (text == nullptr) PyErr_Clear();  // not encodable: matches no parameter
    for (std::size_t i = 0; text != nullptr && i < desc.count; ++i) {
        const char* parameter = desc.parameters[i];
        if (std::strlen(parameter) != static_cast<std::size_t>(length) ||
            std::memcmp(parameter, text, static_cast<std::size_t>(length)) != 0) {
            continue;
        }
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                         full_name(desc).c_str(), parameter);
            throw PythonError{};
        }
        slots[i] = value;
        return;
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                 full_name(desc).c_str(), keyword);
    throw PythonError{};
}

// Names every required parameter left empty, as "'a'", "'a' and 'b'" or
// "'a', 'b', and 'c'".
void check_missing(const FunctionDescription& desc, Py_ssize_t nargs, PyObject* const* slots) {
    if (static_cast<std::size_t>(nargs) >= desc.count) return;
    std::size_t count = 0;
    for (std::size_t i = 0; i < desc.count; ++i) count += slots[i] == nullptr;
    if (count == 0) return;
    std::string list;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < desc.count; ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) list += count == 2 ? " and " : (listed + 1 == count ? ", and " : ", ");
        list += '\'';
        list += desc.parameters[i];
        list += '\'';
        ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s",
                 full_name(desc).c_str(), count, count == 1 ? "argument" : "arguments",
                 list.c_str());
    throw PythonError{};
}

void fill_positional(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t nargs,
                     PyObject** slots) {
    for (std::size_t i = 0; i < desc.count; ++i) {
        slots[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
    }
}

}  // namespace

void bind_vector(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, PyObject** slots) {
    check_positional_count(desc, nargs);
    fill_positional(desc, args, nargs, slots);
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            bind_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
        }
    }
    check_missing(desc, nargs, slots);
}

void bind_tuple(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                PyObject** slots) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    check_positional_count(desc, nargs);
    fill_positional(desc, &PyTuple_GET_ITEM(args, 0), nargs, slots);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            bind_keyword(desc, keyword, value, slots);
        }
    }
    check_missing(desc, nargs, slots);
}

}  // namespace tavelin
