"""Typed use of crypt_main: `mypy --strict` accepts it with the installed stub, and
running it checks that the results have, at run time, the types the stub declares."""

from typing import Any, assert_type

import rsa

from crypt_main import m_crypt

KEY = "0123456789abcdef"
IV = "abcdefghijklmnop"
SECRET = "a shared secret of more than thirty-two bytes, for HS256"


def check(value: object, kind: type) -> None:
    assert isinstance(value, kind), (value, kind)


def main() -> None:
    ecb = m_crypt.aes_ecb("text", KEY)
    assert_type(ecb, bytes)
    check(ecb, bytes)
    check(assert_type(m_crypt.aes_ecb_decrypt(ecb, KEY), str), str)
    cbc = m_crypt.aes_cbc("text", KEY, IV)
    check(assert_type(m_crypt.aes_cbc_decrypt(bytearray(cbc), KEY, IV), str), str)
    des = m_crypt.des("text", "12345678")
    check(assert_type(m_crypt.des_decrypt(memoryview(des), "12345678"), str), str)

    raw = m_crypt.php("中文", KEY, IV)
    assert_type(raw, bytes)
    check(raw, bytes)
    text = m_crypt.php("中文", KEY, IV, base64s=True)
    assert_type(text, str)
    check(text, str)
    either = m_crypt.php("中文", KEY, IV, len(KEY) > 3)
    assert_type(either, bytes | str)
    check(assert_type(m_crypt.php_decrypt(raw, KEY, IV), str), str)
    check(assert_type(m_crypt.php_decrypt(text, KEY, IV, True), str), str)
    check(assert_type(m_crypt._add_to_16("x"), bytes), bytes)

    check(assert_type(m_crypt.base64_decrypt(m_crypt.base64("text")), str), str)
    check(assert_type(m_crypt.md5(b"abc", "upper"), str), str)
    for digest in (m_crypt.sha1, m_crypt.sha256, m_crypt.sha384, m_crypt.sha512):
        check(assert_type(digest("abc", "lower"), str), str)
    check(assert_type(m_crypt.md5_hmac("message", b"key"), bytes), bytes)

    pub, pri = m_crypt.rsa_keys(53)
    assert_type(pub, rsa.PublicKey)
    assert_type(pri, rsa.PrivateKey)
    check(pub, rsa.PublicKey)
    check(pri, rsa.PrivateKey)
    sealed = m_crypt.rsa("text", pub, hexs=True)
    check(assert_type(sealed, bytes), bytes)
    check(assert_type(m_crypt.rsa_decrypt(sealed, pri, True), str), str)

    token = m_crypt.token({"user": 7}, SECRET, exp_time=None)
    check(assert_type(token, str), str)
    data = m_crypt.token_decrypt(token, SECRET)
    assert_type(data, Any)
    assert data == {"user": 7}
    other = m_crypt.token("x", SECRET, issuer="another issuer")
    assert m_crypt.token_decrypt(other, SECRET, None) == "x"  # None: "iss" is not checked


if __name__ == "__main__":
    main()
