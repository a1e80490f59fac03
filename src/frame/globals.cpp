#include "globals.h"

namespace cm {

Process process;

Ref global(PyObject* name) {
    PyObject* value;
    int found = namespace_item(process.dict, name, &value);
    if (found > 0) return Ref::borrow(value);
    if (found < 0) found = PyDict_GetItemRef(process.dict, name, &value);
    if (found == 0) found = PyObject_GetOptionalAttr(process.builtins, name, &value);
    if (found > 0) return Ref::steal(value);
    if (found == 0) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return {};
}

}  // namespace cm
