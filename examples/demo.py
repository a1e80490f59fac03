"""Every operation of crypt_main, shown once: run with `make demo`."""

from crypt_main import m_crypt

TEXT = "Hello, 世界"


def show(label, value):
    print(f"{label:<28} {value!r}")


def digests():
    print("== Hex digests")
    show("md5 (lower)", m_crypt.md5(TEXT, "lower"))
    show("md5 of bytes (upper)", m_crypt.md5(TEXT.encode(), "upper"))
    show("sha1", m_crypt.sha1(TEXT, "lower"))
    show("sha256", m_crypt.sha256(TEXT, "lower"))
    show("sha384", m_crypt.sha384(TEXT, "lower"))
    show("sha512 (upper)", m_crypt.sha512(TEXT, "upper"))


def encodings():
    print("== Base64 and HMAC-MD5")
    encoded = m_crypt.base64(TEXT)
    show("base64", encoded)
    show("base64_decrypt", m_crypt.base64_decrypt(encoded))
    code = m_crypt.md5_hmac(TEXT, "secret key")
    show("md5_hmac", code)
    show("md5_hmac (hex)", code.hex())
    show("same code from bytes", m_crypt.md5_hmac(TEXT.encode(), b"secret key") == code)


def rsa():
    print("== RSA")
    pub_key, pri_key = m_crypt.rsa_keys(53)  # 53 bytes of plaintext fit a 512-bit key
    show("key size (bits)", pub_key.n.bit_length())
    ciphertext = m_crypt.rsa(TEXT, pub_key)
    show("rsa (raw, first 16 bytes)", ciphertext[:16])
    show("rsa_decrypt", m_crypt.rsa_decrypt(ciphertext, pri_key))
    digits = m_crypt.rsa(TEXT, pub_key, hexs=True)
    show("rsa (hex, first 32 digits)", digits[:32])
    show("rsa_decrypt (hex)", m_crypt.rsa_decrypt(digits, pri_key, hexs=True))


def main():
    print(f"text: {TEXT!r}\n")
    for section in (digests, encodings, rsa):
        section()
        print()


if __name__ == "__main__":
    main()
