#include "constants.h"

namespace cm {

Names N;
Texts S;
Ints I;
Objects O;
Tuples T;

namespace {

// A text from a literal, NUL characters included, interned.
template <size_t Size>
PyObject* text(const char (&literal)[Size]) {
    PyObject* s = PyUnicode_DecodeUTF8(literal, Size - 1, nullptr);
    if (s != nullptr) PyUnicode_InternInPlace(&s);
    return s;
}

// (items...) of constants that exist already.
template <class... Items>
PyObject* tuple(const Items&... items) {
    return PyTuple_Pack(sizeof...(Items), items.get()...);
}

// Sets `slot` once; later executions of the module reuse what is there. Without the GIL
// the constant is immortal (compat.h): every call of every thread passes them on.
template <class Make>
int once(Obj& slot, Make make) {
    if (!slot) {
        slot = make();
#ifdef Py_GIL_DISABLED
        if (slot) make_immortal(slot.get());
#endif
    }
    return slot ? 0 : -1;
}

}  // namespace

#define CRYPT_SKIP(member, ...)
#define CRYPT_MAKE(group, member, made) \
    if (once(group.member, [] { return made; }) < 0) return -1;
#define CRYPT_NAME(member, literal) CRYPT_MAKE(N, member, text(literal))
#define CRYPT_TEXT(member, literal) CRYPT_MAKE(S, member, text(literal))
#define CRYPT_INT(member, number) CRYPT_MAKE(I, member, PyLong_FromLong(number))
#define CRYPT_OBJECT(member, expression) CRYPT_MAKE(O, member, (expression))
#define CRYPT_TUPLE(member, ...) CRYPT_MAKE(T, member, tuple(__VA_ARGS__))

int make_constants() {
    CRYPT_CONSTANTS(CRYPT_NAME, CRYPT_TEXT, CRYPT_INT, CRYPT_OBJECT, CRYPT_SKIP)
    return 0;
}

int make_tuples() {
    CRYPT_CONSTANTS(CRYPT_SKIP, CRYPT_SKIP, CRYPT_SKIP, CRYPT_SKIP, CRYPT_TUPLE)
    return 0;
}

}  // namespace cm
