// Every name, text, number and keyword tuple that the module uses, defined once.
// They are made while the module executes, before its body runs, and live for the
// whole process: no call builds a name or a constant of its own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace cm {

// Interned names: attributes, parameters, keywords and module globals.
// X(member, "text")
#define CRYPT_NAMES(X)                                                           \
    X(AES, "AES")                                                                \
    X(DES, "DES")                                                                \
    X(ExpiredSignatureError, "ExpiredSignatureError")                            \
    X(MODE_CBC, "MODE_CBC")                                                      \
    X(MODE_ECB, "MODE_ECB")                                                      \
    X(TimeoutError, "TimeoutError")                                              \
    X(Crypt, "_Crypt")                                                           \
    X(initializing, "_initializing")                                             \
    X(a2b_hex, "a2b_hex")                                                        \
    X(add_to_16, "_add_to_16")                                                   \
    X(algorithm, "algorithm")                                                    \
    X(algorithms, "algorithms")                                                  \
    X(b2a_hex, "b2a_hex")                                                        \
    X(base64, "base64")                                                          \
    X(base64s, "base64s")                                                        \
    X(binascii, "binascii")                                                      \
    X(block_size, "block_size")                                                  \
    X(data, "data")                                                              \
    X(decode, "decode")                                                          \
    X(decodebytes, "decodebytes")                                                \
    X(decrypt, "decrypt")                                                        \
    X(digest, "digest")                                                          \
    X(digestmod, "digestmod")                                                    \
    X(encode, "encode")                                                          \
    X(encodebytes, "encodebytes")                                                \
    X(encoding, "encoding")                                                      \
    X(encrypt, "encrypt")                                                        \
    X(exceptions, "exceptions")                                                  \
    X(exp, "exp")                                                                \
    X(exp_time, "exp_time")                                                      \
    X(fmt, "fmt")                                                                \
    X(get, "get")                                                                \
    X(hashlib, "hashlib")                                                        \
    X(hexdigest, "hexdigest")                                                    \
    X(hexs, "hexs")                                                              \
    X(hmac, "hmac")                                                              \
    X(iat, "iat")                                                                \
    X(issuer, "issuer")                                                          \
    X(iss, "iss")                                                                \
    X(iv, "iv")                                                                  \
    X(jwt, "jwt")                                                                \
    X(key, "key")                                                                \
    X(length, "length")                                                          \
    X(loader, "loader")                                                          \
    X(lower, "lower")                                                            \
    X(md5, "md5")                                                                \
    X(name, "name")                                                              \
    X(new_, "new")                                                               \
    X(newkeys, "newkeys")                                                        \
    X(origin, "origin")                                                          \
    X(pad, "pad")                                                                \
    X(parent, "parent")                                                          \
    X(pri_key, "pri_key")                                                        \
    X(pub_key, "pub_key")                                                        \
    X(replace, "replace")                                                        \
    X(rsa, "rsa")                                                                \
    X(rstrip, "rstrip")                                                          \
    X(self, "self")                                                              \
    X(sha1, "sha1")                                                              \
    X(sha256, "sha256")                                                          \
    X(sha384, "sha384")                                                          \
    X(sha512, "sha512")                                                          \
    X(staticmethod, "staticmethod")                                              \
    X(submodule_search_locations, "submodule_search_locations")                  \
    X(time, "time")                                                              \
    X(token, "token")                                                            \
    X(unpad, "unpad")                                                            \
    X(update, "update")                                                          \
    X(upper, "upper")                                                            \
    X(value, "value")                                                            \
    X(Crypto_Cipher, "Crypto.Cipher")                                            \
    X(Crypto_Util_Padding, "Crypto.Util.Padding")                                \
    X(dunder_all, "__all__")                                                     \
    X(dunder_builtins, "__builtins__")                                           \
    X(dunder_file, "__file__")                                                   \
    X(dunder_loader, "__loader__")                                               \
    X(dunder_module, "__module__")                                               \
    X(dunder_name, "__name__")                                                   \
    X(dunder_package, "__package__")                                             \
    X(dunder_path, "__path__")                                                   \
    X(dunder_qualname, "__qualname__")                                           \
    X(dunder_spec, "__spec__")                                                   \
    X(dunder_test, "__test__")                                                   \
    X(init_name, "__init__")                                                     \
    X(m_crypt, "m_crypt")                                                        \
    X(module_name, "crypt_main")                                                 \
    X(cryptor, "cryptor")                                                        \
    X(text, "text")                                                              \
    X(result, "result")                                                          \
    X(required_bits, "required_bits")                                            \
    X(key_length, "key_length")                                                  \
    X(token_dict, "token_dict")                                                  \
    X(e, "e")

// Literal texts of the operations. X(member, "text")
#define CRYPT_TEXTS(X)                                                           \
    X(utf_8, "utf-8")                                                            \
    X(gbk, "gbk")                                                                \
    X(nul, "\x00")                                                               \
    X(newline, "\n")                                                             \
    X(HS256, "HS256")                                                            \
    X(Tarvex, "Tarvex")                                                          \
    X(token_expired, "token已过期")                                               \
    X(system_error, "系统异常：")                                                  \
    X(dot, ".")

// Integer constants. X(member, value)
#define CRYPT_INTS(X) \
    X(i8, 8)          \
    X(i11, 11)        \
    X(i512, 512)      \
    X(i1024, 1024)    \
    X(i2048, 2048)    \
    X(i86400, 86400)

// Keyword-name tuples for calls that pass keywords. X(member, names...)
#define CRYPT_KWNAMES(X)                 \
    X(encoding, N.encoding)              \
    X(digestmod, N.digestmod)            \
    X(algorithm, N.algorithm)            \
    X(exp, N.exp)                        \
    X(issuer_algorithms, N.issuer, N.algorithms)

struct Names {
#define CRYPT_MEMBER(member, ...) PyObject* member;
    CRYPT_NAMES(CRYPT_MEMBER)
};
struct Texts {
    CRYPT_TEXTS(CRYPT_MEMBER)
};
struct Ints {
    CRYPT_INTS(CRYPT_MEMBER)
};
struct KwNames {
    CRYPT_KWNAMES(CRYPT_MEMBER)
#undef CRYPT_MEMBER
};

// Shared constants other than the lists above.
struct Shared {
    PyObject* empty_tuple;
    PyObject* empty_bytes;
    PyObject* empty_str;
    PyObject* defaults_false;          // (False,)
    PyObject* defaults_2048;           // (2048,)
    PyObject* defaults_token;          // (86400, "Tarvex")
    PyObject* defaults_tarvex;         // ("Tarvex",)
    PyObject* token_expired_args;      // ("token已过期",)
    PyObject* staticmethod;            // builtins.staticmethod, as the last execution found it
};

extern Names N;
extern Texts S;
extern Ints I;
extern KwNames K;
extern Shared C;

// Creates the names, texts, integers and keyword tuples (once per process).
// Returns -1 with an exception set on failure.
int make_constants();

// Creates the default tuples and the exception arguments (once per process).
int make_shared_constants();

}  // namespace cm
