"""des and des_decrypt."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import crypt_main
from cipher_peers import DES, pkcs7, raw_encrypt
from cipher_trace import Proxy, logged_function, traced_text
from conftest import DELETE, blocks_growth, m, module_global, raises_at

KEYS = {"ascii": "12345678", "two-byte": "éàüö"}  # both 8 UTF-8 bytes
KEY = KEYS["ascii"]
TEXTS = {
    "empty": "",
    "ascii": "Hello, world",
    "cjk": "你好，世界",
    "block": "a" * 8,
    "long": "长文本 long text ✓ " * 40,
    "astral": "emoji 😀 𝄞",
}


@pytest.mark.parametrize("key", KEYS.values(), ids=KEYS)
@pytest.mark.parametrize("text", TEXTS.values(), ids=TEXTS)
def test_round_trip(key, text):
    ciphertext = m.des(text, key)
    assert type(ciphertext) is bytes
    plain = m.des_decrypt(ciphertext, key)
    assert type(plain) is str and plain == text


@settings(max_examples=200, deadline=None)
@given(text=st.text(st.characters(codec="utf-8")))
def test_round_trip_any_text(text):
    assert m.des_decrypt(m.des(text, KEY), KEY) == text
    assert m.des_decrypt(bytearray(m.des(text, KEY)), KEY) == text


@pytest.mark.parametrize(
    "text, length", [("", 8), ("a" * 7, 8), ("a" * 8, 16), ("éééé", 16), ("中文", 8), ("中文字", 16)]
)
def test_ciphertext_length_counts_utf8_bytes(text, length):
    assert len(m.des(text, KEY)) == length


def test_equal_blocks_give_equal_blocks():
    ciphertext = m.des("x" * 16, KEY)
    assert ciphertext == m.des("x" * 16, KEY)  # no IV
    assert len(ciphertext) == 24
    assert ciphertext[:8] == ciphertext[8:16] != ciphertext[16:]


SURROGATE = "\udc80" + "a" * 7
BAD_PADDING = raw_encrypt(DES, "MODE_ECB", KEY.encode(), b"a" * 7 + b"\x00")
NOT_UTF8 = raw_encrypt(DES, "MODE_ECB", KEY.encode(), pkcs7(b"\xff\xfe", 8))


def fail(method, line, exc, *args, match=None):
    """A failing call of `method` with `args`, reported with one entry at `line`."""
    return pytest.param(method, args, exc, line, match, id=f"{method}-{exc.__name__}-{line}-{args!r:.40}")


FAILURES = [
    fail("des", 98, ValueError, "x", "a" * 7, match="key length"),
    fail("des", 98, ValueError, "x", "a" * 9, match="key length"),
    fail("des", 98, ValueError, "x", "", match="key length"),
    fail("des", 98, ValueError, "x", "éééé" + "a", match="key length"),
    fail("des", 98, ValueError, 5, "a" * 5, match="key length"),  # the key before the value
    fail("des", 98, AttributeError, "x", b"12345678", match="'bytes'"),
    fail("des", 98, AttributeError, "x", None, match="'NoneType'"),
    fail("des", 98, UnicodeEncodeError, "x", SURROGATE),
    fail("des", 99, AttributeError, b"text", KEY, match="'bytes'"),
    fail("des", 99, AttributeError, 5, KEY, match="'int'"),
    fail("des", 99, UnicodeEncodeError, SURROGATE, KEY),
    fail("des_decrypt", 104, ValueError, "not bytes", "a" * 9, match="key length"),
    fail("des_decrypt", 104, AttributeError, b"", 12345678, match="'int'"),
    fail("des_decrypt", 105, TypeError, "0011223344556677", KEY),  # hex text is not decoded
    fail("des_decrypt", 105, ValueError, b"a" * 7, KEY),
    fail("des_decrypt", 106, ValueError, b"", KEY),
    fail("des_decrypt", 106, ValueError, BAD_PADDING, KEY, match="[Pp]adding"),
    fail("des_decrypt", 106, UnicodeDecodeError, NOT_UTF8, KEY),
]


@pytest.mark.parametrize("method, args, exc, line, match", FAILURES)
def test_failures(method, args, exc, line, match):
    raises_at(exc, lambda: getattr(m, method)(*args), (method, line), match=match)


@pytest.mark.parametrize(
    "name, method, args, line",
    [
        ("DES", "des", ("x", KEY), 98),
        ("pad", "des", (5, KEY), 99),  # pad is looked up before value is encoded
        ("DES", "des_decrypt", (b"", KEY), 104),
        ("unpad", "des_decrypt", (raw_encrypt(DES, "MODE_ECB", KEY.encode(), pkcs7(b"x", 8)), KEY), 106),
    ],
)
def test_missing_global(name, method, args, line):
    with module_global(name, DELETE):
        raises_at(NameError, lambda: getattr(m, method)(*args), (method, line), match=f"^name '{name}' is not defined$")


def test_order_of_calls():
    log = []
    key, value = traced_text("key", KEY, log), traced_text("value", "text", log)
    with (
        module_global("DES", Proxy("DES", DES, log)),
        module_global("pad", logged_function("pad", crypt_main.pad, log)),
        module_global("unpad", logged_function("unpad", crypt_main.unpad, log)),
    ):
        ciphertext = m.des(value, key)
        plain = m.des_decrypt(ciphertext, key)
    cipher = ["DES.new", "key.encode('utf-8',)", "DES.MODE_ECB", "DES.new()"]
    assert log == cipher + ["value.encode('utf-8',)", "DES.block_size", "pad()"] + cipher + [
        "DES.block_size",
        "unpad()",
    ]
    assert (ciphertext, plain) == (m.des("text", KEY), "text")


def test_des_is_looked_up_at_each_use():
    log = []
    key = traced_text("key", KEY, log, on_encode=lambda: crypt_main.__dict__.__setitem__("DES", Proxy("B", DES, log)))
    with module_global("DES", Proxy("A", DES, log)):
        m.des("text", key)
    assert log == ["A.new", "key.encode('utf-8',)", "B.MODE_ECB", "A.new()", "B.block_size"]


# A leak of one block per call would show as 100,000; measured growth is 0 or 1 block,
# the slack covers the interpreter's own caches and free lists settling during the run.
LEAK_SLACK = 10

CIPHERTEXT = m.des("漏 leak", KEY)


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.des("漏 leak", KEY),
        lambda: m.des_decrypt(CIPHERTEXT, KEY),
        lambda: m.des_decrypt(b"", KEY),
        lambda: m.des(5, "short"),
    ],
    ids=["encrypt", "decrypt", "fails-in-unpad", "fails-in-first-step"],
)
def test_no_leaks(call):
    assert blocks_growth(call, 100_000) <= LEAK_SLACK
