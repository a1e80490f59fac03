// The look-ups that the interpreter specialises for code that runs again and again:
// a method found on an object's type (obj.name(...)), a name in a module's namespace
// (module globals, module.name). Each result is remembered only for as long as
// nothing it depends on has changed, so every call sees exactly what a fresh look-up
// would give, at a fraction of its cost.
#include "ref.h"

#include <cstdint>
#include <vector>

namespace cm {

namespace {

unsigned int slot(uintptr_t a, uintptr_t b, unsigned int bits) {
    return static_cast<unsigned int>((a >> 4) ^ (b >> 4) ^ (b >> 13)) & ((1u << bits) - 1);
}

// ---- methods on types -------------------------------------------------------------

// Direct-mapped, like the interpreter's own type cache. An entry is valid for as long
// as its type keeps the version tag: any change of the type or of a base gives it a new
// tag, and tags are never reused, so the borrowed function is still held by the type
// whenever the entry matches.
struct MethodEntry {
    unsigned int version;
    PyObject* name;
    PyObject* function;  // nullptr: not a method descriptor, or not on the type at all
};
constexpr unsigned int method_bits = 9;
MethodEntry methods[1u << method_bits];

// ---- names in namespaces ----------------------------------------------------------

// Every change of a watched dictionary (added, changed or removed items, clear, bulk
// update, deallocation) moves the epoch on, which drops every remembered entry at once.
uint64_t epoch = 1;
int watcher = -1;        // the dictionary watcher, once added
bool no_watcher = false;  // none could be had: look everything up as usual

struct Namespace {
    PyObject* dict;  // borrowed; forgotten when the dictionary goes away
    uint64_t checked;  // the epoch at which its keys were found to be all exact str
};
std::vector<Namespace> namespaces;

struct ItemEntry {
    uint64_t epoch;
    PyObject* dict;
    PyObject* name;
    PyObject* value;  // borrowed from the dictionary; nullptr: the name is not there
    bool on_module_type;  // the module type defines the name (a module attribute look-up finds it there first)
};
constexpr unsigned int item_bits = 8;
ItemEntry items[1u << item_bits];

int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject*, PyObject*) {
    epoch++;
    if (event == PyDict_EVENT_DEALLOCATED) {
        for (auto it = namespaces.begin(); it != namespaces.end(); ++it)
            if (it->dict == dict) {
                namespaces.erase(it);
                break;
            }
    }
    return 0;
}

// Whether a look-up of an exact str in `dict` can be answered from the table: only
// when every key is an exact str, so that the look-up compares nothing but strings and
// has no effect that skipping it would lose.
bool rememberable(PyObject* dict) {
    if (no_watcher) return false;
    if (watcher < 0) {
        watcher = PyDict_AddWatcher(on_change);
        if (watcher < 0) {
            PyErr_Clear();
            no_watcher = true;
            return false;
        }
    }
    Namespace* found = nullptr;
    for (Namespace& ns : namespaces)
        if (ns.dict == dict) found = &ns;
    if (found == nullptr) {
        if (PyDict_Watch(watcher, dict) < 0) {
            PyErr_Clear();
            return false;
        }
        try {
            namespaces.push_back(Namespace{dict, 0});
        } catch (...) {
            return false;
        }
        found = &namespaces.back();
    }
    if (found->checked == epoch) return true;
    Py_ssize_t pos = 0;
    PyObject* key;
    while (PyDict_Next(dict, &pos, &key, nullptr))
        if (!PyUnicode_CheckExact(key)) return false;
    found->checked = epoch;
    return true;
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
    MethodEntry& entry = methods[slot(version, reinterpret_cast<uintptr_t>(name), method_bits)];
    if (version != 0 && entry.version == version && entry.name == name) return entry.function;

    PyObject* found = _PyType_Lookup(type, name);  // borrowed; assigns a version tag
    if (found != nullptr && !PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) found = nullptr;
    version = type->tp_version_tag;
    if (version != 0) methods[slot(version, reinterpret_cast<uintptr_t>(name), method_bits)] = {version, name, found};
    return found;
}

namespace {

// The entry for `name` in `dict`, looked up now if need be; nullptr when the look-up
// cannot be remembered (the caller then looks the name up as usual).
ItemEntry* item_entry(PyObject* dict, PyObject* name) {
    ItemEntry& entry = items[slot(reinterpret_cast<uintptr_t>(dict), reinterpret_cast<uintptr_t>(name), item_bits)];
    if (entry.epoch == epoch && entry.dict == dict && entry.name == name) return &entry;
    if (!PyUnicode_CheckExact(name) || !rememberable(dict)) return nullptr;
    PyObject* found;
    if (PyDict_GetItemRef(dict, name, &found) < 0) {  // cannot happen with str keys alone
        PyErr_Clear();
        return nullptr;
    }
    Py_XDECREF(found);  // still held by the dictionary
    // The module type is immutable, so whether it defines the name never changes.
    bool on_module_type = _PyType_Lookup(&PyModule_Type, name) != nullptr;
    entry = ItemEntry{epoch, dict, name, found, on_module_type};
    return &entry;
}

}  // namespace

int namespace_item(PyObject* dict, PyObject* name, PyObject** value) noexcept {
    ItemEntry* entry = item_entry(dict, name);
    if (entry == nullptr) return -1;
    *value = entry->value;
    return entry->value != nullptr;
}

PyObject* module_attribute(PyObject* module, PyObject* name) noexcept {
    // A plain module looks a name up on its type first (where a data descriptor would
    // win) and then in its dictionary; for a name that the module type does not define,
    // the dictionary alone answers.
    if (!PyModule_CheckExact(module)) return nullptr;
    ItemEntry* entry = item_entry(PyModule_GetDict(module), name);
    if (entry == nullptr || entry->on_module_type) return nullptr;
    return entry->value;
}

}  // namespace cm
