#include "surface/panic.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavelin {
namespace {

PyObject* g_panic_type = nullptr;  // process-wide, never released

constexpr const char* kPanicDoc =
    "Raised when tavelin's own code fails internally.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so it\n"
    "typically propagates through the whole stack and ends the interpreter.";

// The source path relative to the project, so diagnostics do not depend on
// where the build happened.
std::string_view project_path(const char* file) {
    std::string_view path(file);
    std::size_t at = path.rfind("/src/");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

[[noreturn]] void abort_at_boundary() {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

PyObject* ensure_panic_type() noexcept {
    if (g_panic_type == nullptr) {
        g_panic_type = PyErr_NewExceptionWithDoc("velstra_runtime.PanicException", kPanicDoc,
                                                 PyExc_BaseException, nullptr);
    }
    return g_panic_type;
}

// Raises PanicException(text). Only a failure to create the class or the
// text can stop it, and then there is no exception left to raise.
void raise_panic(PyObject* text) noexcept {
    PyObject* type = ensure_panic_type();
    if (type == nullptr || text == nullptr) abort_at_boundary();
    PyErr_SetObject(type, text);
}

}  // namespace

[[noreturn]] void throw_python_error() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    throw PythonError{};
}

bool is_panic_exception(PyObject* exception) noexcept {
    return g_panic_type != nullptr &&
           PyObject_TypeCheck(exception, reinterpret_cast<PyTypeObject*>(g_panic_type));
}

// Both kinds of failure (surface/failure.hpp) reach the caller alike: the
// diagnostic, then the internal-error exception with the failure's text.
// The kind says which side must change, the caller's input or this module,
// and is for whoever reads the code and its tests; what callers rely on is
// the exception and its text.
void raise_internal_failure(const InternalFailure& failure) noexcept {
    std::string_view file = project_path(failure.where.file_name());
    std::fprintf(stderr, "tavelin: internal error at %.*s:%u: %s\n", static_cast<int>(file.size()),
                 file.data(), static_cast<unsigned>(failure.where.line()), failure.text.c_str());
    std::fflush(stderr);
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(
        failure.text.data(), static_cast<Py_ssize_t>(failure.text.size()), "replace"));
    raise_panic(text.get());
}

void settle_python_error() noexcept {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return;
    }
    if (!is_panic_exception(raised)) {
        PyErr_SetRaisedException(raised);
        return;
    }
    // Caller code (an __index__, __float__, __len__ or iterator of theirs)
    // raised the internal-error exception: report where, then raise a new one
    // from here so it is not mistaken for an ordinary conversion error.
    Ref caught = Ref::steal(raised);
    Ref text = Ref::steal(PyObject_Str(caught.get()));
    if (!text) {
        PyErr_Clear();
        text = Ref::steal(PyUnicode_FromString("Unwrapped panic from Python code"));
    }
    std::fputs("--- tavelin: an internal-error exception raised by Python code is resumed ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    PyErr_DisplayException(caught.get());
    raise_panic(text.get());
}

void raise_unexpected_failure() noexcept {
    raise_internal_failure(
        InternalFailure{FailureKind::broken, "unexpected C++ exception", std::source_location::current()});
}

}  // namespace tavelin
