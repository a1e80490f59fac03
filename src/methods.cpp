// The one table of _Crypt's methods: adding a method is a row here and a body. The
// docstring and the default tuple of each method are made from its row.
#include "methods.h"

#include "ciphers/ciphers.h"
#include "digests/digests.h"
#include "rsa/rsa.h"
#include "tokens/tokens.h"

namespace cm {

namespace {

// _Crypt.__init__(self): nothing to set up, the class keeps no state.
Ref init(Call&, Ref) { return Ref::borrow(Py_None); }

constexpr MethodDef table[] = {
    {.name = "__init__", .kind = Kind::plain, .params = {&N.self}, .line = 32, .body = body<init>()},
    {.name = "aes_ecb", .kind = Kind::static_method, .params = {&N.value, &N.key},
     .locals = {&N.cryptor, &N.result}, .line = 60, .body = body<aes_ecb>()},
    {.name = "aes_ecb_decrypt", .kind = Kind::static_method, .params = {&N.value, &N.key},
     .locals = {&N.cryptor, &N.text, &N.result}, .line = 66, .body = body<aes_ecb_decrypt>()},
    {.name = "aes_cbc", .kind = Kind::static_method, .params = {&N.value, &N.key, &N.iv},
     .locals = {&N.cryptor, &N.result}, .line = 73, .body = body<aes_cbc>()},
    {.name = "aes_cbc_decrypt", .kind = Kind::static_method, .params = {&N.value, &N.key, &N.iv},
     .locals = {&N.cryptor, &N.text, &N.result}, .line = 79, .body = body<aes_cbc_decrypt>()},
    {.name = "base64", .kind = Kind::static_method, .params = {&N.value}, .locals = {&N.result}, .line = 86,
     .body = body<base64>()},
    {.name = "base64_decrypt", .kind = Kind::static_method, .params = {&N.value}, .locals = {&N.result},
     .line = 91, .body = body<base64_decrypt>()},
    {.name = "des", .kind = Kind::static_method, .params = {&N.value, &N.key}, .locals = {&N.cryptor, &N.result},
     .line = 96, .body = body<des>()},
    {.name = "des_decrypt", .kind = Kind::static_method, .params = {&N.value, &N.key},
     .locals = {&N.cryptor, &N.text, &N.result}, .line = 102, .body = body<des_decrypt>()},
    {.name = "md5", .kind = Kind::static_method, .params = {&N.value, &N.fmt}, .locals = {&N.result}, .line = 109,
     .body = body<md5>()},
    {.name = "md5_hmac", .kind = Kind::static_method, .params = {&N.value, &N.key}, .locals = {&N.result},
     .line = 125, .body = body<md5_hmac>()},
    {.name = "php", .kind = Kind::plain, .params = {&N.self, &N.value, &N.key, &N.iv, &N.base64s},
     .defaults = {&O.False}, .locals = {&N.cryptor, &N.result}, .line = 135, .body = body<php>()},
    {.name = "php_decrypt", .kind = Kind::plain, .params = {&N.self, &N.value, &N.key, &N.iv, &N.base64s},
     .defaults = {&O.False}, .locals = {&N.cryptor, &N.text, &N.result}, .line = 142, .body = body<php_decrypt>()},
    {.name = "_add_to_16", .kind = Kind::static_method, .params = {&N.value}, .line = 150, .body = body<add_to_16>()},
    {.name = "rsa_keys", .kind = Kind::static_method, .params = {&N.length}, .defaults = {&I.i2048},
     .locals = {&N.required_bits, &N.key_length, &N.pub_key, &N.pri_key}, .line = 157, .body = body<rsa_keys>()},
    {.name = "rsa", .kind = Kind::static_method, .params = {&N.value, &N.pub_key, &N.hexs}, .defaults = {&O.False},
     .locals = {&N.text, &N.result}, .line = 171, .body = body<rsa>()},
    {.name = "rsa_decrypt", .kind = Kind::static_method, .params = {&N.value, &N.pri_key, &N.hexs},
     .defaults = {&O.False}, .locals = {&N.result}, .line = 177, .body = body<rsa_decrypt>()},
    {.name = "sha1", .kind = Kind::static_method, .params = {&N.value, &N.fmt}, .locals = {&N.result}, .line = 183,
     .body = body<sha1>()},
    {.name = "sha256", .kind = Kind::static_method, .params = {&N.value, &N.fmt}, .locals = {&N.result},
     .line = 196, .body = body<sha256>()},
    {.name = "sha384", .kind = Kind::static_method, .params = {&N.value, &N.fmt}, .locals = {&N.result},
     .line = 209, .body = body<sha384>()},
    {.name = "sha512", .kind = Kind::static_method, .params = {&N.value, &N.fmt}, .locals = {&N.result},
     .line = 222, .body = body<sha512>()},
    {.name = "token", .kind = Kind::static_method, .params = {&N.data, &N.key, &N.exp_time, &N.issuer},
     .defaults = {&I.i86400, &S.Tarvex}, .locals = {&N.token_dict, &N.result}, .line = 235, .body = body<token>()},
    {.name = "token_decrypt", .kind = Kind::static_method, .params = {&N.token, &N.key, &N.issuer},
     .defaults = {&S.Tarvex}, .locals = {&N.token_dict, &N.e}, .line = 243, .body = body<token_decrypt>()},
};
static_assert(bodies_fit(table), "a body takes as many arguments as its row has parameters");

}  // namespace

std::span<const MethodDef> method_table() { return table; }

}  // namespace cm
