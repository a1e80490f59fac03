// The one table of _Crypt's methods: adding a method is a row here and a body.
#include "methods.h"

#include "ciphers/ciphers.h"
#include "digests/digests.h"
#include "rsa/rsa.h"
#include "tokens/tokens.h"

namespace cm {

namespace {

// _Crypt.__init__(self): nothing to set up, the class keeps no state.
Ref init(Call&, Ref) { return Ref::borrow(Py_None); }

constexpr bool plain = false;
constexpr bool static_ = true;
using M = Names;
using D = Shared;

const MethodDef table[] = {
    {"__init__", plain, {&M::self}, nullptr, "_Crypt.__init__(self)", {}, 32, body<init>()},
    {"aes_ecb", static_, {&M::value, &M::key}, nullptr, "_Crypt.aes_ecb(value, key)", {&M::cryptor, &M::result},
     60, body<aes_ecb>()},
    {"aes_ecb_decrypt", static_, {&M::value, &M::key}, nullptr, "_Crypt.aes_ecb_decrypt(value, key)",
     {&M::cryptor, &M::text, &M::result}, 66, body<aes_ecb_decrypt>()},
    {"aes_cbc", static_, {&M::value, &M::key, &M::iv}, nullptr, "_Crypt.aes_cbc(value, key, iv)",
     {&M::cryptor, &M::result}, 73, body<aes_cbc>()},
    {"aes_cbc_decrypt", static_, {&M::value, &M::key, &M::iv}, nullptr, "_Crypt.aes_cbc_decrypt(value, key, iv)",
     {&M::cryptor, &M::text, &M::result}, 79, body<aes_cbc_decrypt>()},
    {"base64", static_, {&M::value}, nullptr, "_Crypt.base64(value)", {&M::result}, 86, body<base64>()},
    {"base64_decrypt", static_, {&M::value}, nullptr, "_Crypt.base64_decrypt(value)", {&M::result}, 91,
     body<base64_decrypt>()},
    {"des", static_, {&M::value, &M::key}, nullptr, "_Crypt.des(value, key)", {&M::cryptor, &M::result}, 96,
     body<des>()},
    {"des_decrypt", static_, {&M::value, &M::key}, nullptr, "_Crypt.des_decrypt(value, key)",
     {&M::cryptor, &M::text, &M::result}, 102, body<des_decrypt>()},
    {"md5", static_, {&M::value, &M::fmt}, nullptr, "_Crypt.md5(value, fmt)", {&M::result}, 109, body<md5>()},
    {"md5_hmac", static_, {&M::value, &M::key}, nullptr, "_Crypt.md5_hmac(value, key)", {&M::result}, 125,
     body<md5_hmac>()},
    {"php", plain, {&M::self, &M::value, &M::key, &M::iv, &M::base64s}, &D::defaults_false,
     "_Crypt.php(self, value, key, iv, base64s=False)", {&M::cryptor, &M::result}, 135, body<php>()},
    {"php_decrypt", plain, {&M::self, &M::value, &M::key, &M::iv, &M::base64s}, &D::defaults_false,
     "_Crypt.php_decrypt(self, value, key, iv, base64s=False)", {&M::cryptor, &M::text, &M::result}, 142,
     body<php_decrypt>()},
    {"_add_to_16", static_, {&M::value}, nullptr, "_Crypt._add_to_16(value)", {}, 150, body<add_to_16>()},
    {"rsa_keys", static_, {&M::length}, &D::defaults_2048, "_Crypt.rsa_keys(length=2048)",
     {&M::required_bits, &M::key_length, &M::pub_key, &M::pri_key}, 157, body<rsa_keys>()},
    {"rsa", static_, {&M::value, &M::pub_key, &M::hexs}, &D::defaults_false, "_Crypt.rsa(value, pub_key, hexs=False)",
     {&M::text, &M::result}, 171, body<rsa>()},
    {"rsa_decrypt", static_, {&M::value, &M::pri_key, &M::hexs}, &D::defaults_false,
     "_Crypt.rsa_decrypt(value, pri_key, hexs=False)", {&M::result}, 177, body<rsa_decrypt>()},
    {"sha1", static_, {&M::value, &M::fmt}, nullptr, "_Crypt.sha1(value, fmt)", {&M::result}, 183, body<sha1>()},
    {"sha256", static_, {&M::value, &M::fmt}, nullptr, "_Crypt.sha256(value, fmt)", {&M::result}, 196,
     body<sha256>()},
    {"sha384", static_, {&M::value, &M::fmt}, nullptr, "_Crypt.sha384(value, fmt)", {&M::result}, 209,
     body<sha384>()},
    {"sha512", static_, {&M::value, &M::fmt}, nullptr, "_Crypt.sha512(value, fmt)", {&M::result}, 222,
     body<sha512>()},
    {"token", static_, {&M::data, &M::key, &M::exp_time, &M::issuer}, &D::defaults_token,
     "_Crypt.token(data, key, exp_time=86400, issuer=u'Tarvex')", {&M::token_dict, &M::result}, 235, body<token>()},
    {"token_decrypt", static_, {&M::token, &M::key, &M::issuer}, &D::defaults_tarvex,
     "_Crypt.token_decrypt(token, key, issuer=u'Tarvex')", {&M::token_dict, &M::e}, 243, body<token_decrypt>()},
};

}  // namespace

std::span<const MethodDef> methods() { return table; }

}  // namespace cm
