#include "surface/convert.hpp"

#include <limits>

#include "surface/panic.hpp"

namespace tavelin {

[[noreturn]] void raise_cannot_convert(PyObject* object, const char* target) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
        PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
    } else {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "'<failed to extract type name>' object cannot be converted to '%s'", target);
    }
    throw PythonError{};
}

PyObject* as_dict(PyObject* object) {
    if (!PyDict_Check(object)) raise_cannot_convert(object, "PyDict");
    return object;
}

std::int64_t as_i64(PyObject* object) {
    long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
    return value;
}

std::uint64_t as_u64(PyObject* object) {
    constexpr unsigned long long kError = std::numeric_limits<unsigned long long>::max();
    if (PyLong_Check(object)) {
        unsigned long long value = PyLong_AsUnsignedLongLong(object);
        if (value == kError && PyErr_Occurred()) throw PythonError{};
        return value;
    }
    Ref index = checked(PyNumber_Index(object));
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == kError && PyErr_Occurred()) throw PythonError{};
    return value;
}

double as_f64(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
    return value;
}

void discard_length_error() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised != nullptr && is_panic_exception(raised)) {
        PyErr_SetRaisedException(raised);
        throw PythonError{};
    }
    Py_XDECREF(raised);
}

void tag_argument_error(const char* name) noexcept {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return;
    }
    if (Py_TYPE(raised) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(raised);
        return;
    }
    Ref original = Ref::steal(raised);
    Ref message = Ref::steal(PyObject_Str(original.get()));
    if (!message) return;  // the failure of str() is the exception now
    Ref text = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    if (!text) return;
    Ref tagged = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!tagged) return;
    // Steals the cause (NULL for none) and sets __suppress_context__.
    PyException_SetCause(tagged.get(), PyException_GetCause(original.get()));
    PyErr_SetRaisedException(tagged.release());
}

}  // namespace tavelin
