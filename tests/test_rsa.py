"""rsa_keys, rsa and rsa_decrypt."""

import binascii
import re
import types

import pytest
import rsa as pyrsa
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import padding

from conftest import DELETE, blocks_growth, m, module_global, raises_at

NO_ARGUMENT = object()


@pytest.fixture(scope="module")
def keys():
    """A 512-bit pair, the size chosen for a plaintext of 53 bytes."""
    return m.rsa_keys(53)


class NewKeys:
    """Stands in for python-rsa's newkeys: records its arguments and returns `result`."""

    def __init__(self, result=("pub", "pri")):
        self.result, self.calls = result, []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


def keys_with(newkeys, *args):
    with module_global("rsa", types.SimpleNamespace(newkeys=newkeys)):
        return m.rsa_keys(*args)


# --- rsa_keys ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "length, bits",
    [(53, 512), (54, 1024), (117, 1024), (118, 2048), (245, 2048), (246, 4096),
     (-100, 512), (53.5, 1024), (10**40, 4096), (NO_ARGUMENT, 4096)],
)
def test_key_size_for_plaintext_length(length, bits):
    newkeys = NewKeys()
    assert (keys_with(newkeys) if length is NO_ARGUMENT else keys_with(newkeys, length)) == ("pub", "pri")
    assert newkeys.calls == [((bits,), {})] and type(newkeys.calls[0][0][0]) is int


class Number:
    """A length whose `<=` answers from a script: a value taken for its truth, or an error."""

    def __init__(self, answers):
        self.answers = list(answers)

    def __add__(self, other):
        return self

    __mul__ = __add__

    def __le__(self, bound):
        answer = self.answers.pop(0)
        if isinstance(answer, Exception):
            raise answer
        return answer


class Untestable:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize(
    "answers, outcome",
    [
        (["", [0]], 1024),  # the comparison's result is taken for its truth
        ([False, False, False], 4096),
        ([ValueError("first")], 160),
        ([Untestable()], 160),
        ([False, ValueError("second")], 162),
        ([False, False, Untestable()], 164),
    ],
)
def test_comparisons_and_the_line_of_a_failing_one(answers, outcome):
    newkeys = NewKeys()
    if outcome in (512, 1024, 2048, 4096):
        keys_with(newkeys, Number(answers))
        assert newkeys.calls == [((outcome,), {})]
    else:
        with module_global("rsa", types.SimpleNamespace(newkeys=newkeys)):
            raises_at(Exception, lambda: m.rsa_keys(Number(answers)), ("rsa_keys", outcome))
        assert newkeys.calls == []


def generator(*items):
    yield from items


def endless():
    while True:
        yield "key"


def failing_after_one():
    yield "pub"
    raise KeyError("second")


@pytest.mark.parametrize("result", [["pub", "pri"], generator("pub", "pri")], ids=["list", "generator"])
def test_pair_is_a_new_tuple_of_the_two_items(result):
    pair = keys_with(NewKeys(result), 53)
    assert type(pair) is tuple and pair == ("pub", "pri")


@pytest.mark.parametrize(
    "result, error, message",
    [
        (("a", "b", "c"), ValueError, r"^too many values to unpack \(expected 2\)$"),
        (endless(), ValueError, r"^too many values to unpack \(expected 2\)$"),
        (("a",), ValueError, r"^need more than 1 value to unpack$"),
        (generator(), ValueError, r"^need more than 0 values to unpack$"),
        (5, TypeError, "^cannot unpack non-iterable int object$"),
        (failing_after_one(), KeyError, "second"),
        (RuntimeError("no entropy"), RuntimeError, "no entropy"),
    ],
    ids=["three", "endless", "one", "none", "not-iterable", "failing-iterator", "newkeys-fails"],
)
def test_pair_failures(result, error, message):
    raises_at(error, lambda: keys_with(NewKeys(result), 53), ("rsa_keys", 168), match=message)


def test_length_and_global_failures():
    raises_at(TypeError, lambda: m.rsa_keys("16"), ("rsa_keys", 159), match=r'can only concatenate str \(not "int"\)')
    with module_global("rsa", DELETE):
        raises_at(NameError, lambda: m.rsa_keys(53), ("rsa_keys", 168), match="name 'rsa' is not defined")


def test_real_pairs(keys):
    pub, pri = keys
    assert type(pub) is pyrsa.PublicKey and type(pri) is pyrsa.PrivateKey
    assert pub.n == pri.n and pub.n.bit_length() == 512
    pub, pri = m.rsa_keys(117)
    assert pub.n.bit_length() == 1024
    assert m.rsa_decrypt(m.rsa("y" * 117, pub), pri) == "y" * 117


# --- rsa and rsa_decrypt -------------------------------------------------------------


@pytest.mark.parametrize("text", ["", "Hello, 世界", "x" * 53])
@pytest.mark.parametrize("hexs, form", [(False, rb"(?s).{64}"), ("", rb"(?s).{64}"), (True, rb"[0-9a-f]{128}"),
                                        ("yes", rb"[0-9a-f]{128}")])
def test_round_trip_and_form(keys, text, hexs, form):
    pub, pri = keys
    ciphertext = m.rsa(text, pub, hexs)
    assert type(ciphertext) is bytes and re.fullmatch(form, ciphertext)
    assert m.rsa_decrypt(ciphertext, pri, hexs) == text


def test_padding_is_random_and_hex_digits_come_in_any_form(keys):
    pub, pri = keys
    first, second = m.rsa("same", pub), m.rsa("same", pub)
    assert first != second and m.rsa_decrypt(first, pri) == m.rsa_decrypt(second, pri) == "same"
    digits = m.rsa("hello", pub, True)
    for form in (digits.upper(), digits.decode(), digits.decode().upper(), bytearray(digits)):
        assert m.rsa_decrypt(form, pri, True) == "hello"


def test_failures(keys):
    pub, pri = keys
    other_pri = m.rsa_keys(53)[1]
    text = m.rsa("hello", pub)
    for call, error, line in [
        (lambda: m.rsa("世" * 18, pub), OverflowError, 173),  # 54 UTF-8 bytes: one too many
        (lambda: m.rsa(b"bytes", pub), AttributeError, 173),
        (lambda: m.rsa("\ud800", pub), UnicodeEncodeError, 173),
        (lambda: m.rsa("x", "not a key"), AttributeError, 173),
        (lambda: m.rsa("x", pub, Untestable()), ZeroDivisionError, 174),
        (lambda: m.rsa_decrypt(b"x", pri, Untestable()), ZeroDivisionError, 179),  # before the digits are read
        (lambda: m.rsa_decrypt("abc", pri, True), binascii.Error, 179),
        (lambda: m.rsa_decrypt("zz" * 64, pri, True), binascii.Error, 179),
        (lambda: m.rsa_decrypt(text, other_pri), pyrsa.DecryptionError, 180),
        (lambda: m.rsa_decrypt(bytes([text[0] ^ 1]) + text[1:], pri), pyrsa.DecryptionError, 180),
        (lambda: m.rsa_decrypt(text.hex(), pri), TypeError, 180),  # without hexs, raw bytes only
        (lambda: m.rsa_decrypt(pyrsa.encrypt(b"\xff", pub), pri), UnicodeDecodeError, 180),
    ]:
        raises_at(error, call, ("rsa" if line < 179 else "rsa_decrypt", line))
    with module_global("b2a_hex", DELETE):
        raises_at(NameError, lambda: m.rsa("x", pub, True), ("rsa", 174), match="b2a_hex")


def test_against_another_implementation(keys):
    pub, pri = keys
    private = serialization.load_pem_private_key(pri.save_pkcs1(), password=None)
    text = "Hello, 世界"
    assert private.decrypt(m.rsa(text, pub), padding.PKCS1v15()) == text.encode()
    assert private.decrypt(bytes.fromhex(m.rsa(text, pub, True).decode()), padding.PKCS1v15()) == text.encode()
    ciphertext = serialization.load_pem_public_key(pub.save_pkcs1()).encrypt(b"z" * 53, padding.PKCS1v15())
    assert m.rsa_decrypt(ciphertext, pri) == m.rsa_decrypt(ciphertext.hex().upper(), pri, True) == "z" * 53


def test_no_leaks(keys):
    pub, pri = keys
    hex_text = m.rsa("hello", pub, True)

    def calls():
        m.rsa_decrypt(m.rsa("hello", pub), pri)
        m.rsa_decrypt(hex_text, pri, True)
        m.rsa("x" * 54, pub)
        keys_with(lambda bits: [object(), object()], 53)
        keys_with(lambda bits: [object(), object(), object()], 53.5)
        keys_with(lambda bits: [object()], 200)
        m.rsa_keys("16")

    # A reference lost per call would grow by 500 blocks or more.
    assert blocks_growth(calls, 500, warmup=200) < 50
