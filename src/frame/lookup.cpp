// The look-ups that the interpreter specialises for code that runs again and again:
// a method found on an object's type (obj.name(...)), a name in a module's namespace
// (module globals, module.name). Each answer is remembered only for as long as nothing
// it depends on has changed, so every call sees exactly what a fresh look-up would
// give, at a fraction of its cost.
#include "lookup.h"

namespace cm::lookup {

MethodEntry methods[1u << method_bits];
ItemEntry items[1u << item_bits];

// Every change of a watched dictionary (items added, changed or removed, clear, bulk
// update, deallocation) moves the epoch on, which drops every remembered item at once.
uint64_t epoch = 1;

namespace {

int watcher = -1;         // the dictionary watcher, once added
bool no_watcher = false;  // none could be had: look everything up as usual

// The watched namespaces; a fixed table, so that nothing is allocated or freed behind
// the interpreter's back, also not while it shuts down.
struct Namespace {
    PyObject* dict;    // borrowed; nullptr once the dictionary has gone away
    uint64_t checked;  // the epoch at which its keys were found to be all exact str
};
Namespace namespaces[64];

int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject*, PyObject*) {
    epoch++;
    if (event == PyDict_EVENT_DEALLOCATED)
        for (Namespace& ns : namespaces)
            if (ns.dict == dict) ns = Namespace{nullptr, 0};
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
    Namespace* free = nullptr;
    for (Namespace& ns : namespaces) {
        if (ns.dict == dict) found = &ns;
        if (ns.dict == nullptr && free == nullptr) free = &ns;
    }
    if (found == nullptr) {
        if (free == nullptr) return false;  // more namespaces than a module body uses
        if (PyDict_Watch(watcher, dict) < 0) {
            PyErr_Clear();
            return false;
        }
        *free = Namespace{dict, 0};
        found = free;
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

PyObject* unbound_method_missed(PyObject* self, PyObject* name) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject* found = nullptr;
    // Attributes looked up another way (modules, classes, proxies), and instances that
    // may carry an attribute of the same name, take the general path.
    bool plain = type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset == 0 &&
                 !PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT) && PyUnicode_CheckExact(name);
    if (plain) {
        found = _PyType_Lookup(type, name);  // borrowed; assigns a version tag
        if (found != nullptr && !PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) found = nullptr;
    } else if (type->tp_version_tag == 0) {
        PyUnstable_Type_AssignVersionTag(type);  // so that the answer can be remembered
    }
    unsigned int version = type->tp_version_tag;
    if (version != 0) {
        MethodEntry* pair = &methods[slot(version, reinterpret_cast<uintptr_t>(name), method_bits)];
        pair[1] = pair[0];  // the newest first, the one before it kept
        pair[0] = MethodEntry{version, name, found};
    }
    return found;
}

ItemEntry* item_missed(PyObject* dict, PyObject* name) noexcept {
    if (!PyUnicode_CheckExact(name) || !rememberable(dict)) return nullptr;
    PyObject* found;
    if (PyDict_GetItemRef(dict, name, &found) < 0) {  // cannot happen with str keys alone
        PyErr_Clear();
        return nullptr;
    }
    Py_XDECREF(found);  // still held by the dictionary
    // The module type is immutable, so whether it defines the name never changes.
    bool on_module_type = _PyType_Lookup(&PyModule_Type, name) != nullptr;
    ItemEntry* pair = &items[slot(reinterpret_cast<uintptr_t>(dict), reinterpret_cast<uintptr_t>(name), item_bits)];
    if (pair[0].epoch == epoch) pair[1] = pair[0];  // the newest first, a valid one before it kept
    pair[0] = ItemEntry{epoch, dict, name, found, on_module_type};
    return &pair[0];
}

}  // namespace cm::lookup
