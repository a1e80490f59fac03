#include "globals.h"

namespace cm {

Ref global_missed(PyObject* globals, Obj name, int found, PyObject* value) {
    // found < 0: the answer could not be remembered, look in the dictionary itself
    if (found < 0) found = PyDict_GetItemRef(globals, name.get(), &value);
    else value = nullptr;
    if (found == 0) found = PyObject_GetOptionalAttr(process.builtins, name.get(), &value);
    if (found > 0) return Ref::steal(value);
    if (found == 0) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.get());
    return {};
}

}  // namespace cm
