// Remembered look-ups (lookup.cpp): the answers that the interpreter keeps in its
// specialised instructions, kept here in two small tables. The hits are inline; a miss
// looks the name up, remembers the answer when it can, and returns it. With the GIL
// alone: a free-threaded build has none of it.
#pragma once

#include "process.h"

namespace cm {

#ifdef Py_GIL_DISABLED

// Without the GIL nothing is remembered: every look-up is the interpreter's own, which
// any thread may make at any time. Remembering answers safely there takes entries that
// own their values, versions read before and after, and a lock on every miss; a
// free-threaded 3.13 does not specialise these look-ups in its own code either, and the
// calls stay cheaper than the same calls in Python without them (docs/threads.md).
inline PyObject* unbound_method(PyObject*, PyObject*) noexcept { return nullptr; }
inline int namespace_item(PyObject*, PyObject*, PyObject**) noexcept { return -1; }
inline PyObject* module_attribute(PyObject*, PyObject*) noexcept { return nullptr; }

#else

namespace lookup {

// The first of the two slots (a pair) where the entry for (a, b) may be: two keys that
// meet in one slot, and are used by turns, both stay remembered.
inline unsigned int slot(uintptr_t a, uintptr_t b, unsigned int bits) {
    uint64_t h = (static_cast<uint64_t>(a) ^ (static_cast<uint64_t>(b) >> 4)) * 0x9E3779B97F4A7C15u;
    return static_cast<unsigned int>(h >> (64 - bits)) & ~1u;
}

// A method on a type, by type version: a type that changes gets a new version tag, and
// tags are never reused, so a matching entry's borrowed function is still on the type.
struct MethodEntry {
    unsigned int version;
    PyObject* name;
    PyObject* function;  // nullptr: look the attribute up as usual
};

// A watched namespace (a module's dictionary). Every change of the dictionary gives it
// a new version, drawn from one counter that never goes back, so an answer remembered
// under an older version, or for a dictionary that has gone away, never matches again;
// the answers for other namespaces stay valid.
// On 3.11 (no watchers) an entry carries the dictionary's own version tag instead, and
// each hit compares it with the tag the dictionary has now (compat.h).
struct Namespace {
    PyObject* dict;    // borrowed; nullptr: a free record
    uint64_t version;  // 0 while the namespace is not remembered (see lookup.cpp)
    uint64_t reads;    // reads since the counts were last reset...
    uint64_t changes;  // ...and changes: a namespace that changes all the time is not remembered
    int key_check;     // whether every key is an exact str: 1 yes, 0 no, -1 not known
#ifdef CM_DICT_VERSION_TAGS
    uint64_t seen_tag;  // the dictionary's tag when it was last looked at: changes are counted from it
#endif
};

// A name in a watched namespace, valid while the namespace keeps its version.
struct NameEntry {
    PyObject* dict;
    PyObject* name;
    Namespace* ns;
    uint64_t version;
    PyObject* value;      // borrowed from the dictionary; nullptr: the name is not there
    bool on_module_type;  // the module type defines the name: module.name finds that first
};

// Whether the entry still holds: the namespace has not changed since it was made.
inline bool valid(const NameEntry& e) noexcept {
#ifdef CM_DICT_VERSION_TAGS
    return e.version == dict_version_tag(e.dict);
#else
    return e.version == e.ns->version;
#endif
}

}  // namespace lookup

struct MethodCache {
    static constexpr unsigned int bits = 9;
    lookup::MethodEntry entries[1u << bits];
};

struct NamespaceCache {
    static constexpr unsigned int bits = 9;
    lookup::NameEntry entries[1u << bits];
    lookup::Namespace namespaces[64];  // a fixed table: nothing is allocated or freed
    uint64_t last_version = 0;
#ifndef CM_DICT_VERSION_TAGS
    int watcher = -1;         // the dictionary watcher, once added
    bool no_watcher = false;  // none could be had: look everything up as usual
#endif
};

namespace lookup {

PyObject* unbound_method_missed(PyObject* self, PyObject* name) noexcept;
NameEntry* name_missed(PyObject* dict, PyObject* name) noexcept;

inline NameEntry* name_entry(PyObject* dict, PyObject* name) noexcept {
    NameEntry* pair = &namespace_cache.entries[slot(reinterpret_cast<uintptr_t>(dict),
                                                    reinterpret_cast<uintptr_t>(name), NamespaceCache::bits)];
    for (int i = 0; i < 2; i++) {
        NameEntry* e = &pair[i];
        if (e->dict == dict && e->name == name && valid(*e)) {
            e->ns->reads++;
            return e;
        }
    }
    return name_missed(dict, name);
}

}  // namespace lookup

// The function that `self.name(...)` calls with self as its first argument, when the
// interpreter would call it that way: `name` is found on the type as a method
// descriptor (a function, a method of a built-in type) and instances of the type have
// no dictionary of their own to shadow it. Otherwise nullptr, and the caller looks the
// attribute up as usual. Borrowed; never fails.
inline PyObject* unbound_method(PyObject* self, PyObject* name) noexcept {
    unsigned int version = Py_TYPE(self)->tp_version_tag;
    const lookup::MethodEntry* pair =
        &method_cache.entries[lookup::slot(version, reinterpret_cast<uintptr_t>(name), MethodCache::bits)];
    for (int i = 0; i < 2; i++)
        if (version != 0 && pair[i].version == version && pair[i].name == name) return pair[i].function;
    return lookup::unbound_method_missed(self, name);
}

// dict[name] for a module's namespace: 1 with *value borrowed, 0 when the name is not
// there, -1 when the answer cannot be remembered (a key that is not a str, no
// dictionary watcher to be had, a namespace that changes all the time) and the caller
// looks the name up itself.
inline int namespace_item(PyObject* dict, PyObject* name, PyObject** value) noexcept {
    lookup::NameEntry* entry = lookup::name_entry(dict, name);
    if (entry == nullptr) return -1;
    *value = entry->value;
    return entry->value != nullptr;
}

// module.name for a plain module whose dictionary holds the name and whose type does
// not define it; otherwise nullptr, and the caller looks the attribute up as usual.
// Borrowed; never fails.
inline PyObject* module_attribute(PyObject* module, PyObject* name) noexcept {
    // A plain module looks a name up on its type first (where a data descriptor would
    // win) and then in its dictionary; for a name that the module type does not define,
    // the dictionary alone answers.
    if (!PyModule_CheckExact(module)) return nullptr;
    lookup::NameEntry* entry = lookup::name_entry(PyModule_GetDict(module), name);
    if (entry == nullptr || entry->on_module_type) return nullptr;
    return entry->value;
}

#endif  // Py_GIL_DISABLED

}  // namespace cm
