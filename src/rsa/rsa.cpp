// rsa_keys, rsa, rsa_decrypt: RSA key pairs sized for a plaintext, and PKCS#1 v1.5
// encryption and decryption through python-rsa.
#include "rsa.h"

namespace cm {

// rsa_keys(length=2048) -> (pub_key, pri_key): the smallest of 512, 1024 and 2048 bits
// whose block holds `length` bytes of plaintext (11 bytes go to the padding), else 4096.
Ref rsa_keys(Call& c, Ref length) {
    c.at(159);  // required_bits = (length + 11) * 8
    Ref sum = length.plus(I.i11);                                CHECK(sum);
    Ref required_bits = sum.times(I.i8);                        CHECK(required_bits);

    long key_length = 4096;
    c.at(160);  // if required_bits <= 512: key_length = 512
    int fits = required_bits.at_most(I.i512);                    CHECK(fits);
    if (fits) {
        key_length = 512;
    } else {
        c.at(162);  // elif required_bits <= 1024: key_length = 1024
        fits = required_bits.at_most(I.i1024);                   CHECK(fits);
        if (fits) {
            key_length = 1024;
        } else {
            c.at(164);  // elif required_bits <= 2048: key_length = 2048
            fits = required_bits.at_most(I.i2048);               CHECK(fits);
            if (fits) key_length = 2048;
        }
    }

    c.at(168);  // pub_key, pri_key = rsa.newkeys(key_length)
    Ref newkeys = c.global(N.rsa).attr(N.newkeys);               CHECK(newkeys);
    Ref bits = Ref::steal(PyLong_FromLong(key_length));          CHECK(bits);
    Ref pair = newkeys.call(bits.take());                        CHECK(pair);
    auto [pub_key, pri_key] = pair.unpack<2>();                 CHECK(pub_key);

    c.at(169);  // return pub_key, pri_key
    return Ref::steal(PyTuple_Pack(2, pub_key.get(), pri_key.get()));
}

// rsa(value, pub_key, hexs=False) -> bytes: the raw ciphertext, or its lower-case
// hexadecimal digits when hexs is true.
Ref rsa(Call& c, Ref value, Ref pub_key, Ref hexs) {
    c.at(173);  // text = rsa.encrypt(value.encode(), pub_key)
    Ref encrypt = c.global(N.rsa).attr(N.encrypt);               CHECK(encrypt);
    Ref plain = value.method(N.encode);                          CHECK(plain);
    Ref text = encrypt.call(plain.take(), pub_key);              CHECK(text);

    c.at(174);  // result = b2a_hex(text) if hexs else text
    int wanted = hexs.truth();                                   CHECK(wanted);
    if (!wanted) return text;
    Ref b2a_hex = c.global(N.b2a_hex);                           CHECK(b2a_hex);
    return b2a_hex.call(text);
}

// rsa_decrypt(value, pri_key, hexs=False) -> str: value is raw ciphertext bytes, or
// hexadecimal digits (str or bytes, either case) when hexs is true.
Ref rsa_decrypt(Call& c, Ref value, Ref pri_key, Ref hexs) {
    c.at(179);  // if hexs: value = a2b_hex(value)
    int wanted = hexs.truth();                                   CHECK(wanted);
    if (wanted) {
        Ref a2b_hex = c.global(N.a2b_hex);                       CHECK(a2b_hex);
        value = a2b_hex.call(value);                             CHECK(value);
    }

    c.at(180);  // result = rsa.decrypt(value, pri_key).decode()
    Ref decrypt = c.global(N.rsa).attr(N.decrypt);               CHECK(decrypt);
    Ref plain = decrypt.call(value, pri_key);                    CHECK(plain);
    return plain.take().method(N.decode);
}

}  // namespace cm
