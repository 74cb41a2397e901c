// Module initialisation: single-phase, one module object per process.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "surface/convert.hpp"
#include "surface/failure.hpp"
#include "surface/panic.hpp"
#include "surface/tavelin_type.hpp"

namespace tavelin {
namespace {

constexpr int kApiVersion = 1013;

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "tavelin",
    "",       // __doc__ is the empty string
    0,        // no per-module state
    nullptr,  // no module-level functions
    nullptr, nullptr, nullptr, nullptr,
};

// The module keeps process-wide caches (the class object, NumPy's API
// table), so it may live in one interpreter only: the first that imports it.
std::atomic<std::int64_t> g_first_interpreter{-1};
PyObject* g_module = nullptr;  // process-wide, never released

void run_module_body(PyObject* module) {
    PyObject* type = tavelin_type();

    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_python_error();
    }
    if (!PyList_Check(all.get())) raise_cannot_convert(all.get(), "PyList");
    Ref name = checked(PyUnicode_FromString("Tavelin"));
    if (PyList_Append(all.get(), name.get()) < 0) {
        PyErr_Clear();
        refuse("could not append __name__ to __all__");
    }
    if (PyModule_AddObjectRef(module, "Tavelin", type) < 0) throw_python_error();
}

PyObject* initialise() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw_python_error();
    std::int64_t expected = -1;
    if (!g_first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "tavelin does not support sub-interpreters: it can only be imported in "
                        "the interpreter that imported it first");
        throw PythonError{};
    }
    if (g_module != nullptr) return Py_NewRef(g_module);

    Ref module = checked(PyModule_Create2(&g_module_def, kApiVersion));
    run_module_body(module.get());
    g_module = Py_NewRef(module.get());
    return module.release();
}

}  // namespace
}  // namespace tavelin

PyMODINIT_FUNC PyInit_tavelin(void) {
    return tavelin::failure_boundary([] { return tavelin::initialise(); });
}
