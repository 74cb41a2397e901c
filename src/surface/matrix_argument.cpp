#include "surface/matrix_argument.hpp"

#include "surface/convert.hpp"
#include "surface/numpy_api.hpp"

namespace tavelin {
namespace {

void require_writeable(PyObject* array) {
    if (!is_writeable(array)) {
        PyErr_SetString(PyExc_ValueError,
                        "argument 'x_py': array is read-only; solve writes its result into it");
        throw PythonError{};
    }
}

}  // namespace

PyObject* convert_matrix_argument(PyObject* object, bool for_writing) {
    PyObject* array = convert_argument("x_py", [&] { return as_float64_matrix(object); });
    if (for_writing) require_writeable(array);
    return array;
}

StridedMatrix current_matrix_view(PyObject* array, bool for_writing) {
    convert_matrix_argument(array, for_writing);
    return matrix_view(array);
}

}  // namespace tavelin
