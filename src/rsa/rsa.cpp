// rsa_keys, rsa, rsa_decrypt: RSA key pairs sized for a plaintext, and PKCS#1 v1.5
// encryption and decryption through python-rsa.
#include "rsa.h"

namespace cm {

// rsa_keys(length=2048) -> (pub_key, pri_key): the smallest of 512, 1024 and 2048 bits
// whose block holds `length` bytes of plaintext (11 bytes go to the padding), else 4096.
Ref rsa_keys(Call& c, Ref length) {
    c.at(159);
    Ref sum = length.plus(I.i11);
    Ref required_bits = sum.times(I.i8);

    long key_length = 4096;
    c.at(160);
    if (required_bits.at_most(I.i512)) {
        key_length = 512;
    } else {
        c.at(162);
        if (required_bits.at_most(I.i1024)) {
            key_length = 1024;
        } else {
            c.at(164);
            if (required_bits.at_most(I.i2048)) key_length = 2048;
        }
    }

    c.at(168);
    Ref newkeys = c.global(N.rsa).attr(N.newkeys);
    Ref bits = Ref::steal(PyLong_FromLong(key_length));
    Ref pair = newkeys.call(bits);
    auto [pub_key, pri_key] = pair.unpack<2>();

    c.at(169);
    return Ref::steal(PyTuple_Pack(2, pub_key.get(), pri_key.get()));
}

// rsa(value, pub_key, hexs=False) -> bytes: the raw ciphertext, or its lower-case
// hexadecimal digits when hexs is true.
Ref rsa(Call& c, Ref value, Ref pub_key, Ref hexs) {
    c.at(173);
    Ref encrypt = c.global(N.rsa).attr(N.encrypt);
    Ref plain = value.method(N.encode);
    Ref text = encrypt.call(plain, pub_key);

    c.at(174);
    if (hexs.truth()) return c.global(N.b2a_hex).call(text);
    return text;
}

// rsa_decrypt(value, pri_key, hexs=False) -> str: value is raw ciphertext bytes, or
// hexadecimal digits (str or bytes, either case) when hexs is true.
Ref rsa_decrypt(Call& c, Ref value, Ref pri_key, Ref hexs) {
    c.at(179);
    if (hexs.truth()) value = c.global(N.a2b_hex).call(value);

    c.at(180);
    Ref decrypt = c.global(N.rsa).attr(N.decrypt);
    Ref plain = decrypt.call(value, pri_key);
    return plain.method(N.decode);
}

}  // namespace cm
