#include "surface/numpy_api.hpp"

#include <string>

#include "surface/convert.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

using npy_intp = Py_intptr_t;

// The leading fields of NumPy's array object, whose layout is part of its ABI.
struct ArrayFields {
    PyObject_HEAD
    char* data;
    int nd;
    npy_intp* dimensions;
    npy_intp* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};

constexpr int kNpyDouble = 12;
constexpr int kNpyArrayWriteable = 0x0400;

// Positions in NumPy's _ARRAY_API table.
constexpr int kArrayTypeSlot = 2;
constexpr int kDescrFromTypeSlot = 45;
constexpr int kNewFromDescrSlot = 94;
constexpr int kEquivTypesSlot = 182;
constexpr int kSetBaseObjectSlot = 282;

struct NumpyApi {
    PyTypeObject* array_type;
    PyObject* (*descr_from_type)(int);
    PyObject* (*new_from_descr)(PyTypeObject*, PyObject*, int, const npy_intp*, const npy_intp*,
                                void*, int, PyObject*);
    unsigned char (*equiv_types)(PyObject*, PyObject*);
    int (*set_base_object)(PyObject*, PyObject*);
    PyObject* float64;  // the NPY_DOUBLE descriptor, one reference held for the process
};

NumpyApi g_api{};
bool g_api_loaded = false;

ArrayFields* fields(PyObject* array) noexcept { return reinterpret_cast<ArrayFields*>(array); }

// Turns the pending Python exception into the text of an internal failure.
[[noreturn]] void fail_numpy_access() {
    std::string text = "Failed to access NumPy array API capsule";
    PyObject* raised = PyErr_GetRaisedException();
    if (raised != nullptr) {
        Ref described = Ref::steal(PyObject_Repr(raised));
        Py_DECREF(raised);
        const char* utf8 = described ? PyUnicode_AsUTF8(described.get()) : nullptr;
        if (utf8 != nullptr) {
            text += ": ";
            text += utf8;
        }
        PyErr_Clear();
    }
    refuse(std::move(text));
}

Ref import_or_fail(const char* name) {
    Ref module = Ref::steal(PyImport_ImportModule(name));
    if (!module) fail_numpy_access();
    return module;
}

Ref attribute_or_fail(PyObject* object, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(object, name));
    if (!value) fail_numpy_access();
    return value;
}

// NumPy 2 moved the multiarray module to numpy._core; ask NumPy which
// generation it is before choosing.
const char* multiarray_module_name() {
    Ref numpy = import_or_fail("numpy");
    Ref version = attribute_or_fail(numpy.get(), "__version__");
    Ref lib = import_or_fail("numpy.lib");
    Ref numpy_version = attribute_or_fail(lib.get(), "NumpyVersion");
    Ref parsed = Ref::steal(PyObject_CallOneArg(numpy_version.get(), version.get()));
    if (!parsed) fail_numpy_access();
    Ref major = attribute_or_fail(parsed.get(), "major");
    long value = PyLong_AsLong(major.get());
    if (value == -1 && PyErr_Occurred()) fail_numpy_access();
    return value >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
}

const NumpyApi& numpy_api() {
    if (g_api_loaded) return g_api;
    Ref multiarray = import_or_fail(multiarray_module_name());
    Ref capsule = attribute_or_fail(multiarray.get(), "_ARRAY_API");
    if (!PyCapsule_CheckExact(capsule.get())) {
        refuse("Failed to access NumPy array API capsule: _ARRAY_API is not a capsule");
    }
    auto table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (table == nullptr) fail_numpy_access();

    NumpyApi api;
    api.array_type = static_cast<PyTypeObject*>(table[kArrayTypeSlot]);
    api.descr_from_type = reinterpret_cast<decltype(api.descr_from_type)>(table[kDescrFromTypeSlot]);
    api.new_from_descr = reinterpret_cast<decltype(api.new_from_descr)>(table[kNewFromDescrSlot]);
    api.equiv_types = reinterpret_cast<decltype(api.equiv_types)>(table[kEquivTypesSlot]);
    api.set_base_object = reinterpret_cast<decltype(api.set_base_object)>(table[kSetBaseObjectSlot]);
    api.float64 = api.descr_from_type(kNpyDouble);
    if (api.float64 == nullptr) fail_numpy_access();
    // The capsule's module stays imported for the life of the process, so
    // the table outlives this reference to the capsule.
    g_api = api;
    g_api_loaded = true;
    return g_api;
}

void free_buffer(PyObject* capsule) {
    delete[] static_cast<double*>(PyCapsule_GetPointer(capsule, "tavelin.buffer"));
}

}  // namespace

PyObject* as_float64_matrix(PyObject* object) {
    const NumpyApi& api = numpy_api();
    if (!PyObject_TypeCheck(object, api.array_type)) raise_cannot_convert(object, "PyArray<T, D>");
    ArrayFields* array = fields(object);
    if (array->nd != 2) raise_cannot_convert(object, "PyArray<T, D>");
    if (array->descr != api.float64 && !api.equiv_types(array->descr, api.float64)) {
        raise_cannot_convert(object, "PyArray<T, D>");
    }
    return object;
}

bool is_array(PyObject* object) noexcept { return PyObject_TypeCheck(object, g_api.array_type); }

PyObject* array_base(PyObject* array) noexcept { return fields(array)->base; }

StridedMatrix matrix_view(PyObject* array) noexcept {
    const ArrayFields* a = fields(array);
    return StridedMatrix{a->data, static_cast<std::size_t>(a->dimensions[0]),
                         static_cast<std::size_t>(a->dimensions[1]), a->strides[0], a->strides[1]};
}

char* element_address(PyObject* array, std::size_t i, std::size_t j) noexcept {
    return const_cast<char*>(matrix_view(array).address(i, j));
}

bool is_writeable(PyObject* array) noexcept { return (fields(array)->flags & kNpyArrayWriteable) != 0; }

Ref hand_over_to_numpy(CostMatrix&& matrix) {
    const NumpyApi& api = numpy_api();
    Ref owner = checked(PyCapsule_New(matrix.cells.get(), "tavelin.buffer", free_buffer));
    double* data = matrix.cells.release();  // the capsule owns it now

    bool empty = matrix.rows == 0 || matrix.cols == 0;
    npy_intp dims[2] = {static_cast<npy_intp>(matrix.rows), static_cast<npy_intp>(matrix.cols)};
    npy_intp strides[2] = {empty ? 0 : static_cast<npy_intp>(matrix.cols * sizeof(double)),
                           empty ? 0 : static_cast<npy_intp>(sizeof(double))};
    Py_INCREF(api.float64);  // stolen by new_from_descr
    Ref array = checked(api.new_from_descr(api.array_type, api.float64, 2, dims, strides, data,
                                           kNpyArrayWriteable, nullptr));
    if (api.set_base_object(array.get(), owner.release()) < 0) throw_python_error();
    return array;
}

}  // namespace tavelin
