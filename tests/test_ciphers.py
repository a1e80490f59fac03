"""aes_ecb, aes_cbc, des and their inverses: one family, one set of cases over the three.

Known answers come from PyCryptodome's raw block cipher given bytes that the test pads
itself, so a fault in the module's encoding or padding cannot hide behind a round trip.
"""

from dataclasses import dataclass

import pytest
from Crypto.Cipher import AES, DES
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import DELETE, blocks_growth, m, module_global, raises_at

IV = "向量0123456789"  # 12 characters, 16 UTF-8 bytes


@dataclass(frozen=True)
class Cipher:
    name: str
    module: object
    mode: str
    keys: tuple  # the first is the default; all of the right length in UTF-8 bytes
    line: int  # the encryptor's first line; the decryptor's is `dline`
    dline: int
    cbc: bool = False

    def args(self, value, key=None, iv=IV):
        return (value, key or self.keys[0]) + ((iv,) if self.cbc else ())

    def encrypt(self, value, key=None, iv=IV):
        return getattr(m, self.name)(*self.args(value, key, iv))

    def decrypt(self, value, key=None, iv=IV):
        return getattr(m, self.name + "_decrypt")(*self.args(value, key, iv))

    def raw(self, plain, key=None, iv=IV):
        """The raw cipher over `plain`, bytes padded or not, with no padding of its own."""
        extra = (iv.encode(),) if self.cbc else ()
        return self.module.new((key or self.keys[0]).encode(), getattr(self.module, self.mode), *extra).encrypt(plain)

    @property
    def block(self):
        return self.module.block_size

    @property
    def key_length(self):
        return len(self.keys[0].encode())


AES_KEYS = ("0123456789abcdef", "0123456789abcdefghijklmn", "0123456789abcdefghijklmnopqrstuv", "密钥密钥密钥密钥")
CIPHERS = [
    Cipher("aes_ecb", AES, "MODE_ECB", AES_KEYS, 62, 68),
    Cipher("aes_cbc", AES, "MODE_CBC", AES_KEYS, 75, 81, cbc=True),
    Cipher("des", DES, "MODE_ECB", ("12345678", "éàüö"), 98, 104),
]
each_cipher = pytest.mark.parametrize("c", CIPHERS, ids=lambda c: c.name)


def pkcs7(data, block):
    n = block - len(data) % block
    return data + bytes([n]) * n


TEXTS = ["", "a" * 16, "你好，世界", "emoji 😀 𝄞", "长文本 long text ✓ " * 40]


@pytest.mark.parametrize(
    "c, key", [(c, k) for c in CIPHERS for k in c.keys], ids=lambda v: v.name if isinstance(v, Cipher) else repr(v)
)
@pytest.mark.parametrize("text", TEXTS, ids=range(len(TEXTS)))
def test_known_answers_and_back(c, key, text):
    ciphertext = c.encrypt(text, key)
    assert type(ciphertext) is bytes
    assert ciphertext == c.raw(pkcs7(text.encode(), c.block), key)
    plain = c.decrypt(bytearray(ciphertext), key)  # any bytes-like ciphertext
    assert type(plain) is str and plain == text


@settings(max_examples=100, deadline=None)
@given(text=st.text(st.characters(codec="utf-8")))
def test_round_trip_any_text(text):
    for c in CIPHERS:
        assert c.decrypt(c.encrypt(text)) == text


SURROGATE = "\udc80"


def failures(c):
    """(method, args, error, line, match) for one cipher: its failures, each at its line."""
    n = c.key_length
    short, long_utf8 = "a" * (n - 1), "é" + "a" * (n - 1)  # n characters, n + 1 bytes
    enc, dec = c.name, c.name + "_decrypt"
    rows = [
        (enc, c.args("x", b"k" * n), AttributeError, c.line, "'bytes'"),
        (enc, c.args("x", short), ValueError, c.line, "key length"),
        (enc, c.args("x", long_utf8), ValueError, c.line, "key length"),
        (enc, c.args(5, short), ValueError, c.line, "key length"),  # the key before the value
        (enc, c.args("x", SURROGATE * n), UnicodeEncodeError, c.line, None),
        (enc, c.args(5), AttributeError, c.line + 1, "'int'"),
        (enc, c.args(b"text"), AttributeError, c.line + 1, "'bytes'"),
        (enc, c.args(SURROGATE), UnicodeEncodeError, c.line + 1, None),
        (dec, c.args("not bytes", short), ValueError, c.dline, "key length"),  # the key before the value
        (dec, c.args(b"", 12345678), AttributeError, c.dline, "'int'"),
        (dec, c.args("00112233445566778899aabbccddeeff"), TypeError, c.dline + 1, None),  # hex is not decoded
        (dec, c.args(b"a" * (c.block - 1)), ValueError, c.dline + 1, None),
        (dec, c.args(b""), ValueError, c.dline + 2, None),
        (dec, c.args(c.raw(b"a" * (c.block - 1) + b"\x00")), ValueError, c.dline + 2, "[Pp]adding"),
        (dec, c.args(c.raw(pkcs7(b"\xff\xfe", c.block))), UnicodeDecodeError, c.dline + 2, None),
    ]
    if c.cbc:
        rows += [
            (enc, c.args("x", b"k", 16), AttributeError, c.line, "'bytes'"),  # the key before the IV
            (enc, c.args("x", short, b"iv"), AttributeError, c.line, "'bytes'"),  # the IV before the key length
            (enc, c.args("x", iv="a" * 15), ValueError, c.line, "IV"),
            (enc, c.args("x", iv="é" + "a" * 15), ValueError, c.line, "IV"),
            (enc, c.args(5, iv="short"), ValueError, c.line, "IV"),  # the IV before the value
            (enc, c.args("x", iv=SURROGATE * 16), UnicodeEncodeError, c.line, None),
            (dec, c.args(b"", iv=None), AttributeError, c.dline, "'NoneType'"),
        ]
    return [pytest.param(*row, id=f"{row[0]}-{row[2].__name__}-{row[3]}-{row[1]!r:.30}") for row in rows]


@pytest.mark.parametrize("method, args, error, line, match", [p for c in CIPHERS for p in failures(c)])
def test_failures(method, args, error, line, match):
    raises_at(error, lambda: getattr(m, method)(*args), (method, line), match=match)


@each_cipher
@pytest.mark.parametrize("name", ["cipher", "pad", "unpad"])
def test_missing_global(c, name):
    if name == "cipher":
        name, call, method, line = c.module.__name__.rsplit(".")[-1], lambda: c.encrypt("x"), c.name, c.line
    elif name == "pad":  # looked up before the value is encoded
        call, method, line = lambda: c.encrypt(5), c.name, c.line + 1
    else:
        ciphertext = c.encrypt("x")
        call, method, line = lambda: c.decrypt(ciphertext), c.name + "_decrypt", c.dline + 2
    with module_global(name, DELETE):
        raises_at(NameError, call, (method, line), match=f"^name '{name}' is not defined$")


# A leak of one block per call would show as 50,000 or more; the slack covers the
# interpreter's own caches and free lists settling during the run (up to ~30 blocks).
AES_CBC, DES_ECB = CIPHERS[1], CIPHERS[2]


@pytest.mark.parametrize(
    "call",
    [
        lambda: AES_CBC.decrypt(AES_CBC.encrypt("漏 leak")),
        lambda: DES_ECB.decrypt(DES_ECB.encrypt("漏 leak")),
        lambda: m.aes_ecb_decrypt(b"", AES_KEYS[0]),
        lambda: m.aes_cbc("x", "short", b"iv"),
    ],
    ids=["aes-cbc-round-trip", "des-round-trip", "fails-in-unpad", "fails-in-first-step"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 50_000) <= 100
