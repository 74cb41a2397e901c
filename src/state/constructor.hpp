// Building the instance state from the constructor's arguments.
#pragma once

#include <Python.h>

#include <cstdint>

#include "state/instance.hpp"

namespace tavelin {

// Converts the three dictionaries (already checked to be dicts) and the three
// integers into an owned InstanceState. Keeps no reference to the caller's
// objects. Throws PythonError for a conversion failure, InternalFailure when
// a dictionary changes while it is read or the penalty table cannot be sized,
// std::bad_alloc when memory runs out.
InstanceState build_instance_state(PyObject* sets_home, PyObject* sets_forbidden, std::int64_t m,
                                   std::int64_t p, std::int64_t r_max, PyObject* penalties);

}  // namespace tavelin
