"""The ciphers against independent computations of the same cipher: PyCryptodome's raw
block cipher and `openssl enc`, both given bytes that the test pads or fills itself, so
that a fault in padding or filling cannot hide behind a round trip."""

from types import SimpleNamespace

import pytest

from cipher_peers import AES, DES, openssl_encrypt, pkcs7, raw_encrypt, zero_fill
from conftest import m

IV = "向量0123456789"  # 16 UTF-8 bytes
GBK_TEXTS = ["", "Hello", "a" * 16, "你好，世界", "长文本 long text " * 5]
UTF8_TEXTS = GBK_TEXTS + ["emoji 😀 ✓"]
AES_KEYS = ["k" * 16, "k" * 24, "k" * 32, "密钥密钥密钥密钥"]  # the last: 24 UTF-8 bytes
PHP_KEYS = ["k", "k" * 15, "k" * 16, "k" * 17, "k" * 24, "k" * 32, "密钥", "密钥" * 8]
DES_KEYS = ["12345678", "éàüö"]  # both 8 UTF-8 bytes


def case(method, args, module, mode, key, plain, iv=None):
    """`method(*args)` must equal the raw cipher's output for these bytes, and its
    inverse must turn that output back into the text args[0]."""
    name = "des" if module is DES else f"aes-{len(key) * 8}"
    openssl = f"{name}-{mode[5:].lower()}"
    peer = SimpleNamespace(module=module, mode=mode, key=key, plain=plain, iv=iv, openssl=openssl, legacy=module is DES)
    return pytest.param(method, args, peer, id=f"{method}-{len(key)}-{args[0][:8]!r}")


def aes_ecb(text, key):
    return case("aes_ecb", (text, key), AES, "MODE_ECB", key.encode(), pkcs7(text.encode(), 16))


def aes_cbc(text, key):
    return case("aes_cbc", (text, key, IV), AES, "MODE_CBC", key.encode(), pkcs7(text.encode(), 16), IV.encode())


def php(text, key):
    # A key of 17 to 32 GBK bytes is filled to 32: AES-256, never AES-192.
    key_bytes, plain = zero_fill(key.encode("gbk")), zero_fill(text.encode("gbk"))
    return case("php", (text, key, IV), AES, "MODE_CBC", key_bytes, plain, IV.encode())


def des(text, key):
    return case("des", (text, key), DES, "MODE_ECB", key.encode(), pkcs7(text.encode(), 8))


CASES = (
    [aes_ecb(t, k) for k in AES_KEYS for t in UTF8_TEXTS]
    + [aes_cbc(t, k) for k in AES_KEYS for t in UTF8_TEXTS]
    + [php(t, k) for k in PHP_KEYS for t in GBK_TEXTS]
    + [des(t, k) for k in DES_KEYS for t in UTF8_TEXTS]
)


@pytest.mark.parametrize("method, args, peer", CASES)
def test_against_pycryptodome(method, args, peer):
    expected = raw_encrypt(peer.module, peer.mode, peer.key, peer.plain, peer.iv)
    assert getattr(m, method)(*args) == expected
    assert getattr(m, f"{method}_decrypt")(expected, *args[1:]) == args[0]


@pytest.mark.parametrize("method, args, peer", CASES)
def test_against_openssl(method, args, peer):
    expected = openssl_encrypt(peer.openssl, peer.key, peer.plain, peer.iv, legacy=peer.legacy)
    assert getattr(m, method)(*args) == expected
