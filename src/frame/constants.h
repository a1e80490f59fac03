// Every name, text, number and tuple that the module uses, defined once, in one list.
// They are made while the module executes, before its body runs, and live for the
// whole process: no call builds a name or a constant of its own.
#pragma once

#include "object.h"
#include "process.h"

namespace cm {

// NAME(member, "text")       an interned str: an attribute, parameter, keyword or global name
// TEXT(member, "text")       a literal text of an operation (interned too)
// INT(member, value)         an int
// OBJECT(member, expression) an object of the interpreter's own (a new reference to it)
// TUPLE(member, items...)    a tuple of the constants above
#define CRYPT_CONSTANTS(NAME, TEXT, INT, OBJECT, TUPLE)                          \
    /* module globals, and the modules and names that the body imports */       \
    NAME(base64, "base64")                                                       \
    NAME(hashlib, "hashlib")                                                     \
    NAME(hmac, "hmac")                                                           \
    NAME(time, "time")                                                           \
    NAME(binascii, "binascii")                                                   \
    NAME(a2b_hex, "a2b_hex")                                                     \
    NAME(b2a_hex, "b2a_hex")                                                     \
    NAME(jwt, "jwt")                                                             \
    NAME(rsa, "rsa")                                                             \
    NAME(Crypto_Cipher, "Crypto.Cipher")                                         \
    NAME(Crypto_Util_Padding, "Crypto.Util.Padding")                             \
    NAME(AES, "AES")                                                             \
    NAME(DES, "DES")                                                             \
    NAME(pad, "pad")                                                             \
    NAME(unpad, "unpad")                                                         \
    NAME(Crypt, "_Crypt")                                                        \
    NAME(m_crypt, "m_crypt")                                                     \
    NAME(TimeoutError, "TimeoutError")                                           \
    NAME(staticmethod, "staticmethod")                                           \
    /* the module's own attributes */                                          \
    NAME(module_name, "crypt_main")                                              \
    NAME(dunder_all, "__all__")                                                  \
    NAME(dunder_module, "__module__")                                            \
    NAME(dunder_name, "__name__")                                                \
    NAME(dunder_qualname, "__qualname__")                                        \
    NAME(dunder_spec, "__spec__")                                                \
    NAME(dunder_test, "__test__")                                                \
    NAME(initializing, "_initializing")                                          \
    NAME(co_linetable, "co_linetable")                                           \
    /* attributes that the bodies read */                                       \
    NAME(ExpiredSignatureError, "ExpiredSignatureError")                         \
    NAME(MODE_CBC, "MODE_CBC")                                                   \
    NAME(MODE_ECB, "MODE_ECB")                                                   \
    NAME(add_to_16, "_add_to_16")                                                \
    NAME(block_size, "block_size")                                               \
    NAME(decode, "decode")                                                       \
    NAME(decodebytes, "decodebytes")                                             \
    NAME(decrypt, "decrypt")                                                     \
    NAME(digest, "digest")                                                       \
    NAME(encode, "encode")                                                       \
    NAME(encodebytes, "encodebytes")                                             \
    NAME(encrypt, "encrypt")                                                     \
    NAME(exceptions, "exceptions")                                               \
    NAME(get, "get")                                                             \
    NAME(hexdigest, "hexdigest")                                                 \
    NAME(lower, "lower")                                                         \
    NAME(md5, "md5")                                                             \
    NAME(new_, "new")                                                            \
    NAME(newkeys, "newkeys")                                                     \
    NAME(replace, "replace")                                                     \
    NAME(rstrip, "rstrip")                                                       \
    NAME(sha1, "sha1")                                                           \
    NAME(sha256, "sha256")                                                       \
    NAME(sha384, "sha384")                                                       \
    NAME(sha512, "sha512")                                                       \
    NAME(update, "update")                                                       \
    NAME(upper, "upper")                                                         \
    /* keyword names, and the claim keys of a token */                          \
    NAME(algorithm, "algorithm")                                                 \
    NAME(algorithms, "algorithms")                                               \
    NAME(digestmod, "digestmod")                                                 \
    NAME(encoding, "encoding")                                                   \
    NAME(exp, "exp")                                                             \
    NAME(data, "data")                                                           \
    NAME(iat, "iat")                                                             \
    NAME(iss, "iss")                                                             \
    /* parameter names and further local names of the methods */                \
    NAME(self, "self")                                                           \
    NAME(value, "value")                                                         \
    NAME(key, "key")                                                             \
    NAME(iv, "iv")                                                               \
    NAME(fmt, "fmt")                                                             \
    NAME(base64s, "base64s")                                                     \
    NAME(length, "length")                                                       \
    NAME(pub_key, "pub_key")                                                     \
    NAME(pri_key, "pri_key")                                                     \
    NAME(hexs, "hexs")                                                           \
    NAME(exp_time, "exp_time")                                                   \
    NAME(issuer, "issuer")                                                       \
    NAME(token, "token")                                                         \
    NAME(cryptor, "cryptor")                                                     \
    NAME(text, "text")                                                           \
    NAME(result, "result")                                                       \
    NAME(required_bits, "required_bits")                                         \
    NAME(key_length, "key_length")                                               \
    NAME(token_dict, "token_dict")                                               \
    NAME(e, "e")                                                                 \
    /* literal texts */                                                          \
    TEXT(empty, "")                                                              \
    TEXT(utf_8, "utf-8")                                                         \
    TEXT(gbk, "gbk")                                                             \
    TEXT(nul, "\x00")                                                            \
    TEXT(newline, "\n")                                                          \
    TEXT(HS256, "HS256")                                                         \
    TEXT(Tarvex, "Tarvex")                                                       \
    TEXT(token_expired, "token已过期")                                            \
    TEXT(system_error, "系统异常：")                                               \
    /* numbers: rsa_keys' key sizes, the default lifetime of a token */         \
    INT(i8, 8)                                                                   \
    INT(i11, 11)                                                                 \
    INT(i512, 512)                                                               \
    INT(i1024, 1024)                                                             \
    INT(i2048, 2048)                                                             \
    INT(i86400, 86400)                                                           \
    /* the interpreter's own: a default value, and the introspection code's parts */ \
    OBJECT(False, Py_NewRef(Py_False))                                           \
    OBJECT(empty_bytes, PyBytes_FromStringAndSize(nullptr, 0))                   \
    OBJECT(empty_tuple, PyTuple_New(0))                                          \
    /* keyword names of calls that pass keywords, and token_decrypt's error */    \
    TUPLE(kw_encoding, N.encoding)                                               \
    TUPLE(kw_digestmod, N.digestmod)                                             \
    TUPLE(kw_algorithm, N.algorithm)                                             \
    TUPLE(kw_exp, N.exp)                                                         \
    TUPLE(kw_issuer_algorithms, N.issuer, N.algorithms)                          \
    TUPLE(token_expired_args, S.token_expired)

#define CRYPT_MEMBER(member, ...) Obj member;
#define CRYPT_NONE(member, ...)
struct Names {
    CRYPT_CONSTANTS(CRYPT_MEMBER, CRYPT_NONE, CRYPT_NONE, CRYPT_NONE, CRYPT_NONE)
};
struct Texts {
    CRYPT_CONSTANTS(CRYPT_NONE, CRYPT_MEMBER, CRYPT_NONE, CRYPT_NONE, CRYPT_NONE)
};
struct Ints {
    CRYPT_CONSTANTS(CRYPT_NONE, CRYPT_NONE, CRYPT_MEMBER, CRYPT_NONE, CRYPT_NONE)
};
struct Objects {
    CRYPT_CONSTANTS(CRYPT_NONE, CRYPT_NONE, CRYPT_NONE, CRYPT_MEMBER, CRYPT_NONE)
};
struct Tuples {
    CRYPT_CONSTANTS(CRYPT_NONE, CRYPT_NONE, CRYPT_NONE, CRYPT_NONE, CRYPT_MEMBER)
};
#undef CRYPT_MEMBER
#undef CRYPT_NONE

// A reference to one constant of the list, for tables that name constants before they
// exist (the method table's parameters and defaults).
template <class Group>
using Constant = Obj Group::*;

// Makes the constants (once per process; a later execution reuses them), in two
// phases, as start-up orders them: the names, texts, numbers and the interpreter's own
// objects first, before anything that could report a traceback entry; the tuples
// second, after sys.modules and the builtins have been consulted, so that a failure
// there reports line 1 of "init crypt_main". Returns -1 with an exception set when one
// cannot be made.
int make_constants();
int make_tuples();

}  // namespace cm
