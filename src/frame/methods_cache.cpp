// unbound_method: the method look-up that the interpreter specialises for obj.name(...).
#include "ref.h"

#include <cstdint>

namespace cm {

namespace {

// A small direct-mapped table, like the interpreter's own type cache. An entry is
// valid for as long as its type keeps the version tag: any change of the type or of a
// base gives it a new tag, and tags are never reused, so the borrowed function is
// still held by the type's dictionary whenever the entry matches.
struct Entry {
    unsigned int version;
    PyObject* name;
    PyObject* function;  // nullptr: not a method descriptor, or not on the type at all
};
constexpr unsigned int table_bits = 9;
Entry table[1u << table_bits];

unsigned int slot(unsigned int version, PyObject* name) {
    auto address = static_cast<unsigned int>(reinterpret_cast<uintptr_t>(name) >> 4);
    return (version ^ address) & ((1u << table_bits) - 1);
}

}  // namespace

PyObject* unbound_method(PyObject* self, PyObject* name) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    // Attributes looked up another way (modules, classes, proxies), and instances that
    // may carry an attribute of the same name, take the general path.
    if (type->tp_getattro != PyObject_GenericGetAttr || type->tp_dictoffset != 0 ||
        PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT) || !PyUnicode_CheckExact(name))
        return nullptr;
    unsigned int version = type->tp_version_tag;
    Entry& entry = table[slot(version, name)];
    if (version != 0 && entry.version == version && entry.name == name) return entry.function;

    PyObject* found = _PyType_Lookup(type, name);  // borrowed; assigns a version tag
    if (found != nullptr && !PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) found = nullptr;
    version = type->tp_version_tag;
    if (version != 0) table[slot(version, name)] = Entry{version, name, found};
    return found;
}

}  // namespace cm
