"""Every operation of crypt_main, shown once: run with `make demo`."""

import secrets

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


def tokens():
    print("== Signed tokens")
    key = secrets.token_bytes(32)  # random: a key that can be guessed lets anyone sign
    token = m_crypt.token({"text": TEXT, "n": (1, 2)}, key)
    show("token", token)
    show("token_decrypt", m_crypt.token_decrypt(token, key))
    show("without expiry", m_crypt.token_decrypt(m_crypt.token(TEXT, key, None), key))
    try:
        m_crypt.token_decrypt(token, secrets.token_bytes(32))
    except Exception as error:
        show("with another key", error)
    try:
        m_crypt.token_decrypt(m_crypt.token(TEXT, key, -10), key)
    except TimeoutError as error:
        show("expired", error)


def ciphers():
    print("== Symmetric ciphers")
    key, iv = "0123456789abcdef", "fedcba9876543210"
    data = m_crypt.aes_ecb(TEXT, key)
    show("aes_ecb", data)
    show("aes_ecb_decrypt", m_crypt.aes_ecb_decrypt(data, key))
    data = m_crypt.aes_cbc(TEXT, key, iv)
    show("aes_cbc", data)
    show("aes_cbc_decrypt", m_crypt.aes_cbc_decrypt(data, key, iv))
    data = m_crypt.php(TEXT, "secret", iv)
    show("php", data)
    show("php_decrypt", m_crypt.php_decrypt(data, "secret", iv))
    data = m_crypt.php(TEXT, "secret", iv, True)
    show("php (Base64)", data)
    show("php_decrypt (Base64)", m_crypt.php_decrypt(data, "secret", iv, True))
    show("_add_to_16", m_crypt._add_to_16(TEXT))
    data = m_crypt.des(TEXT, "12345678")
    show("des", data)
    show("des_decrypt", m_crypt.des_decrypt(data, "12345678"))


def main():
    print(f"text: {TEXT!r}\n")
    for section in (digests, encodings, rsa, tokens, ciphers):
        section()
        print()


if __name__ == "__main__":
    main()
