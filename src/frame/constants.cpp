#include "constants.h"

namespace cm {

Names N;
Texts S;
Ints I;
KwNames K;
Shared C;

namespace {

// A text from a literal, NUL characters included, interned.
template <size_t Size>
PyObject* text(const char (&literal)[Size]) {
    PyObject* s = PyUnicode_DecodeUTF8(literal, Size - 1, nullptr);
    if (s != nullptr) PyUnicode_InternInPlace(&s);
    return s;
}

// Sets `slot` once; later executions of the module reuse what is there.
template <class Make>
int once(PyObject*& slot, Make make) {
    if (slot == nullptr) slot = make();
    return slot == nullptr ? -1 : 0;
}

}  // namespace

int make_constants() {
    if (once(C.empty_tuple, [] { return PyTuple_New(0); }) < 0) return -1;
    if (once(C.empty_bytes, [] { return PyBytes_FromStringAndSize(nullptr, 0); }) < 0) return -1;
    if (once(C.empty_str, [] { return PyUnicode_New(0, 0); }) < 0) return -1;
#define CRYPT_MAKE_TEXT(member, literal) \
    if (once(N.member, [] { return text(literal); }) < 0) return -1;
    CRYPT_NAMES(CRYPT_MAKE_TEXT)
#undef CRYPT_MAKE_TEXT
#define CRYPT_MAKE_TEXT(member, literal) \
    if (once(S.member, [] { return text(literal); }) < 0) return -1;
    CRYPT_TEXTS(CRYPT_MAKE_TEXT)
#undef CRYPT_MAKE_TEXT
#define CRYPT_MAKE_INT(member, number) \
    if (once(I.member, [] { return PyLong_FromLong(number); }) < 0) return -1;
    CRYPT_INTS(CRYPT_MAKE_INT)
#undef CRYPT_MAKE_INT
#define CRYPT_MAKE_KWNAMES(member, ...)                                                      \
    if (once(K.member, [] {                                                                   \
            PyObject* names[] = {__VA_ARGS__};                                                \
            Py_ssize_t count = static_cast<Py_ssize_t>(sizeof(names) / sizeof(names[0]));     \
            PyObject* tuple = PyTuple_New(count);                                             \
            if (tuple != nullptr)                                                             \
                for (Py_ssize_t i = 0; i < count; i++) PyTuple_SET_ITEM(tuple, i, Py_NewRef(names[i])); \
            return tuple;                                                                     \
        }) < 0)                                                                               \
        return -1;
    CRYPT_KWNAMES(CRYPT_MAKE_KWNAMES)
#undef CRYPT_MAKE_KWNAMES
    return 0;
}

int make_shared_constants() {
    if (once(C.defaults_false, [] { return PyTuple_Pack(1, Py_False); }) < 0) return -1;
    if (once(C.defaults_2048, [] { return PyTuple_Pack(1, I.i2048); }) < 0) return -1;
    if (once(C.defaults_token, [] { return PyTuple_Pack(2, I.i86400, S.Tarvex); }) < 0) return -1;
    if (once(C.defaults_tarvex, [] { return PyTuple_Pack(1, S.Tarvex); }) < 0) return -1;
    if (once(C.token_expired_args, [] { return PyTuple_Pack(1, S.token_expired); }) < 0) return -1;
    return 0;
}

}  // namespace cm
