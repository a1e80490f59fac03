// The look-ups that the interpreter specialises for code that runs again and again:
// a method found on an object's type (obj.name(...)), a name in a module's namespace
// (module globals, module.name). Each answer is remembered only for as long as nothing
// it depends on has changed, so every call sees exactly what a fresh look-up would
// give, at a fraction of its cost.
#include "lookup.h"

#ifndef Py_GIL_DISABLED  // (nothing is remembered without the GIL: lookup.h)

namespace cm {

MethodCache method_cache;
NamespaceCache namespace_cache;

namespace lookup {

namespace {

NamespaceCache& cache = namespace_cache;

uint64_t new_version() { return ++cache.last_version; }

// A namespace that changes about as often as it is read gains nothing from remembered
// answers, only the cost of making them again: like the interpreter, which stops
// specialising on a namespace that keeps changing, it is then read as usual. Reads and
// changes are counted in windows: one of `judged_changes` changes while the namespace
// is remembered, one of `judged_reads` reads while it is not.
constexpr uint64_t judged_changes = 16;
constexpr uint64_t reads_per_change = 4;    // fewer reads per change: stop remembering
constexpr uint64_t judged_reads = 64;
constexpr uint64_t quiet_reads_per_change = 16;  // this many reads per change: remember again

// A change of the namespace: its remembered answers no longer hold, and a namespace
// that changes about as often as it is read stops being remembered.
void count_change(Namespace& ns) {
    ns.changes++;
    if (ns.version == 0) return;
    ns.version = new_version();
    if (ns.changes >= judged_changes) {
        if (ns.reads < reads_per_change * ns.changes) ns.version = 0;  // stop remembering
        ns.reads = ns.changes = 0;
    }
}

#ifndef CM_DICT_VERSION_TAGS
// Called by the interpreter for every change of a watched dictionary.
int on_change(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject*) {
    Namespace* ns = nullptr;
    for (Namespace& candidate : cache.namespaces)
        if (candidate.dict == dict) ns = &candidate;
    if (ns == nullptr) return 0;
    switch (event) {
        case PyDict_EVENT_DEALLOCATED:
            *ns = Namespace{};
            return 0;
        case PyDict_EVENT_ADDED:
            if (!PyUnicode_CheckExact(key)) ns->key_check = 0;
            break;
        case PyDict_EVENT_CLEARED:
            ns->key_check = 1;
            break;
        case PyDict_EVENT_CLONED:
            ns->key_check = -1;
            break;
        case PyDict_EVENT_DELETED:
            if (ns->key_check == 0) ns->key_check = -1;  // the odd key may be gone
            break;
        default:
            break;
    }
    count_change(*ns);
    return 0;
}
#endif

// The record of a namespace, watched from now on; nullptr when it cannot be watched.
// On 3.11 nothing tells of a dictionary that goes away, so its record stays (a new
// dictionary at its address takes it over, with a tag of its own): the table holds
// the namespaces of the modules that the bodies use, which live as long as the process.
Namespace* watched(PyObject* dict) {
#ifndef CM_DICT_VERSION_TAGS
    if (cache.no_watcher) return nullptr;
    if (cache.watcher < 0) {
        cache.watcher = PyDict_AddWatcher(on_change);
        if (cache.watcher < 0) {
            PyErr_Clear();
            cache.no_watcher = true;
            return nullptr;
        }
    }
#endif
    Namespace* free = nullptr;
    for (Namespace& ns : cache.namespaces) {
        if (ns.dict == dict) return &ns;
        if (ns.dict == nullptr && free == nullptr) free = &ns;
    }
    if (free == nullptr) return nullptr;  // more namespaces than a module body uses
#ifdef CM_DICT_VERSION_TAGS
    *free = Namespace{dict, new_version(), 0, 0, -1, dict_version_tag(dict)};
#else
    if (PyDict_Watch(cache.watcher, dict) < 0) {
        PyErr_Clear();
        return nullptr;
    }
    *free = Namespace{dict, new_version(), 0, 0, -1};
#endif
    return free;
}

#ifdef CM_DICT_VERSION_TAGS
// What the watcher would have told of the namespace since it was last looked at: that
// it changed (once or more; counted as one), and that a key which is not a str may have
// come in.
void see_changes(Namespace& ns) {
    uint64_t tag = dict_version_tag(ns.dict);
    if (tag == ns.seen_tag) return;
    ns.seen_tag = tag;
    ns.key_check = -1;
    count_change(ns);
}
#endif

// Whether a look-up of an exact str in the namespace can be answered from the table:
// only while every key is an exact str, so that the look-up compares nothing but
// strings and has no effect that skipping it would lose.
bool only_str_keys(Namespace& ns) {
    if (ns.key_check < 0) {
        ns.key_check = 1;
        Py_ssize_t pos = 0;
        PyObject* key;
        while (PyDict_Next(ns.dict, &pos, &key, nullptr))
            if (!PyUnicode_CheckExact(key)) ns.key_check = 0;
    }
    return ns.key_check == 1;
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
        MethodEntry* pair = &method_cache.entries[slot(version, reinterpret_cast<uintptr_t>(name), MethodCache::bits)];
        pair[1] = pair[0];  // the newest first, the one before it kept
        pair[0] = MethodEntry{version, name, found};
    }
    return found;
}

NameEntry* name_missed(PyObject* dict, PyObject* name) noexcept {
    if (!PyUnicode_CheckExact(name)) return nullptr;
    NameEntry* pair = &cache.entries[slot(reinterpret_cast<uintptr_t>(dict), reinterpret_cast<uintptr_t>(name),
                                          NamespaceCache::bits)];
    // The record is found through a stale entry of the same namespace when there is one.
    Namespace* ns = pair[0].dict == dict && pair[0].ns->dict == dict ? pair[0].ns : watched(dict);
    if (ns == nullptr) return nullptr;
#ifdef CM_DICT_VERSION_TAGS
    see_changes(*ns);
#endif
    ns->reads++;
    if (ns->version == 0) {
        if (ns->reads < judged_reads) return nullptr;
        bool quiet = ns->reads >= quiet_reads_per_change * ns->changes;
        ns->reads = ns->changes = 0;
        if (!quiet) return nullptr;
        ns->version = new_version();  // quiet again: remember its answers
    }
    if (!only_str_keys(*ns)) return nullptr;
    PyObject* found;
    if (PyDict_GetItemRef(dict, name, &found) < 0) {  // cannot happen with str keys alone
        PyErr_Clear();
        return nullptr;
    }
    Py_XDECREF(found);  // still held by the dictionary
    // The module type is immutable, so whether it defines the name never changes.
    bool on_module_type = _PyType_Lookup(&PyModule_Type, name) != nullptr;
#ifdef CM_DICT_VERSION_TAGS
    // The newest entry's dictionary may be gone (nothing tells on 3.11): judged by the
    // tag its namespace had when last looked at, without reading the dictionary.
    bool newest_valid = pair[0].dict != nullptr && pair[0].version == pair[0].ns->seen_tag;
    uint64_t version = ns->seen_tag;
#else
    bool newest_valid = pair[0].dict != nullptr && valid(pair[0]);
    uint64_t version = ns->version;
#endif
    if (newest_valid) pair[1] = pair[0];  // the newest first, a valid one before it kept
    pair[0] = NameEntry{dict, name, ns, version, found, on_module_type};
    return &pair[0];
}

}  // namespace lookup

}  // namespace cm

#endif  // Py_GIL_DISABLED
