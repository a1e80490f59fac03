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


@pytest.fixture(scope="module")
def other_keys():
    return m.rsa_keys(53)


class NewKeys:
    """Stands in for python-rsa's newkeys: records its arguments and returns `result`."""

    def __init__(self, result=("pub", "pri")):
        self.result = result
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


def keys_with(newkeys, *args, **kwargs):
    with module_global("rsa", types.SimpleNamespace(newkeys=newkeys)):
        return m.rsa_keys(*args, **kwargs)


# --- rsa_keys: the size --------------------------------------------------------------


@pytest.mark.parametrize(
    "length, bits",
    [
        (53, 512),
        (54, 1024),
        (117, 1024),
        (118, 2048),
        (245, 2048),
        (246, 4096),
        (0, 512),
        (-100, 512),
        (53.5, 1024),
        (100000, 4096),
        (2048, 4096),
        (NO_ARGUMENT, 4096),
        (10**40, 4096),
    ],
)
def test_key_size_for_plaintext_length(length, bits):
    newkeys = NewKeys()
    result = keys_with(newkeys) if length is NO_ARGUMENT else keys_with(newkeys, length)
    assert newkeys.calls == [((bits,), {})]
    assert type(newkeys.calls[0][0][0]) is int
    assert result == ("pub", "pri")


class Number:
    """A length whose `<=` answers from a script; records the operands it is given."""

    def __init__(self, answers):
        self.answers = list(answers)
        self.operands = []
        self.bounds = []

    def __add__(self, other):
        self.operands.append(("+", other))
        return self

    def __mul__(self, other):
        self.operands.append(("*", other))
        return self

    def __le__(self, bound):
        self.bounds.append(bound)
        answer = self.answers.pop(0)
        if isinstance(answer, Exception):
            raise answer
        return answer


class Untestable:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize(
    "answers, bits",
    [
        ([True], 512),
        ([False, True], 1024),
        ([False, False, True], 2048),
        ([False, False, False], 4096),
        (["", [0]], 1024),  # the comparison's result is taken for its truth
    ],
)
def test_only_the_needed_comparisons(answers, bits):
    length = Number(answers)
    newkeys = NewKeys()
    keys_with(newkeys, length)
    assert length.operands == [("+", 11), ("*", 8)]
    assert length.bounds == [512, 1024, 2048][: len(answers)]
    assert newkeys.calls == [((bits,), {})]


@pytest.mark.parametrize(
    "answers, line",
    [
        ([ValueError("first")], 160),
        ([Untestable()], 160),
        ([False, ValueError("second")], 162),
        ([False, False, ValueError("third")], 164),
        ([False, False, Untestable()], 164),
    ],
)
def test_failing_comparison_reports_its_line(answers, line):
    newkeys = NewKeys()
    with module_global("rsa", types.SimpleNamespace(newkeys=newkeys)):
        raises_at(Exception, lambda: m.rsa_keys(Number(answers)), ("rsa_keys", line))
    assert newkeys.calls == []


def test_text_length_raises_the_operator_error():
    raises_at(TypeError, lambda: m.rsa_keys("16"), ("rsa_keys", 159), match=r'can only concatenate str \(not "int"\)')


# --- rsa_keys: the pair --------------------------------------------------------------


def generator(*items):
    yield from items


def endless():
    while True:
        yield "key"


@pytest.mark.parametrize("result", [["pub", "pri"], generator("pub", "pri")], ids=["list", "generator"])
def test_pair_is_a_new_tuple_of_the_two_items(result):
    pair = keys_with(NewKeys(result), 53)
    assert type(pair) is tuple and pair == ("pub", "pri")


@pytest.mark.parametrize(
    "result, message",
    [
        (("a", "b", "c"), r"^too many values to unpack \(expected 2\)$"),
        (endless(), r"^too many values to unpack \(expected 2\)$"),
        (("a",), r"^need more than 1 value to unpack$"),
        ((), r"^need more than 0 values to unpack$"),
        (generator(), r"^need more than 0 values to unpack$"),
    ],
    ids=["three", "endless", "one", "none", "empty-generator"],
)
def test_pair_of_the_wrong_size(result, message):
    raises_at(ValueError, lambda: keys_with(NewKeys(result), 53), ("rsa_keys", 168), match=message)


def test_unpacking_takes_one_item_past_the_pair():
    taken = []

    def counting():
        for i in range(10):
            taken.append(i)
            yield i

    with pytest.raises(ValueError):
        keys_with(NewKeys(counting()), 53)
    assert taken == [0, 1, 2]


def test_errors_while_unpacking_pass_through():
    def failing():
        yield "pub"
        raise KeyError("second")

    raises_at(KeyError, lambda: keys_with(NewKeys(failing()), 53), ("rsa_keys", 168))
    raises_at(TypeError, lambda: keys_with(NewKeys(5), 53), ("rsa_keys", 168), match="^cannot unpack non-iterable int object$")


def test_newkeys_errors_pass_through():
    def newkeys(bits):
        raise RuntimeError("no entropy")

    raises_at(RuntimeError, lambda: keys_with(newkeys, 53), ("rsa_keys", 168), match="no entropy")
    with module_global("rsa", DELETE):
        raises_at(NameError, lambda: m.rsa_keys(53), ("rsa_keys", 168), match="name 'rsa' is not defined")


def test_real_pairs(keys):
    pub, pri = keys
    assert type(pub) is pyrsa.PublicKey and type(pri) is pyrsa.PrivateKey
    assert pub.n == pri.n and pub.n.bit_length() == 512

    pub, pri = m.rsa_keys(117)
    assert pub.n.bit_length() == 1024
    text = "y" * 117
    assert m.rsa_decrypt(m.rsa(text, pub), pri) == text


# --- rsa and rsa_decrypt -------------------------------------------------------------


@pytest.mark.parametrize("text", ["", "hello", "Hello, 世界", "x" * 53, "é" * 26 + "x", "\0\n"])
@pytest.mark.parametrize("hexs", [False, True])
def test_round_trip(keys, text, hexs):
    pub, pri = keys
    assert m.rsa_decrypt(m.rsa(text, pub, hexs), pri, hexs) == text


HEX_DIGITS = rb"[0-9a-f]{128}"  # a 512-bit ciphertext in lower-case hex
RAW = rb"(?s).{64}"


@pytest.mark.parametrize(
    "hexs, form",
    [(True, HEX_DIGITS), (1, HEX_DIGITS), ("yes", HEX_DIGITS), (False, RAW), (0, RAW), (None, RAW), ("", RAW)],
)
def test_hexs_is_taken_for_its_truth(keys, hexs, form):
    pub, pri = keys
    text = m.rsa("hello", pub, hexs=hexs)
    assert type(text) is bytes and re.fullmatch(form, text)
    assert m.rsa_decrypt(text, pri, hexs) == "hello"


def test_padding_is_random(keys):
    pub, pri = keys
    first, second = m.rsa("same", pub), m.rsa("same", pub)
    assert first != second
    assert m.rsa_decrypt(first, pri) == m.rsa_decrypt(second, pri) == "same"


@pytest.mark.parametrize(
    "form",
    [bytes.upper, bytes.lower, lambda d: d.decode(), lambda d: d.decode().upper(), bytearray],
    ids=["bytes-upper", "bytes-lower", "str-lower", "str-upper", "bytearray"],
)
def test_hex_digits_accepted(keys, form):
    pub, pri = keys
    digits = m.rsa("hello", pub, True)
    assert m.rsa_decrypt(form(digits), pri, True) == "hello"


@pytest.mark.parametrize("text", ["x" * 54, "世" * 18])
def test_plaintext_longer_than_a_block(keys, text):
    raises_at(OverflowError, lambda: m.rsa(text, keys[0]), ("rsa", 173), match="54 bytes needed")


def test_encryption_failures(keys):
    raises_at(AttributeError, lambda: m.rsa(b"bytes", keys[0]), ("rsa", 173), match="encode")
    raises_at(UnicodeEncodeError, lambda: m.rsa("\ud800", keys[0]), ("rsa", 173))
    raises_at(AttributeError, lambda: m.rsa("x", "not a key"), ("rsa", 173))
    raises_at(ZeroDivisionError, lambda: m.rsa("x", keys[0], Untestable()), ("rsa", 174))
    with module_global("b2a_hex", DELETE):
        raises_at(NameError, lambda: m.rsa("x", keys[0], True), ("rsa", 174), match="b2a_hex")


def test_decryption_failures(keys, other_keys):
    pub, pri = keys
    text = m.rsa("hello", pub)
    raises_at(pyrsa.DecryptionError, lambda: m.rsa_decrypt(text, other_keys[1]), ("rsa_decrypt", 180))
    damaged = bytes([text[0] ^ 1]) + text[1:]
    raises_at(pyrsa.DecryptionError, lambda: m.rsa_decrypt(damaged, pri), ("rsa_decrypt", 180))
    raises_at(pyrsa.DecryptionError, lambda: m.rsa_decrypt(text + b"\0", pri), ("rsa_decrypt", 180))
    # Without hexs the ciphertext must be raw bytes.
    raises_at(TypeError, lambda: m.rsa_decrypt(text.hex(), pri), ("rsa_decrypt", 180))
    raises_at(pyrsa.DecryptionError, lambda: m.rsa_decrypt(text.hex().encode(), pri), ("rsa_decrypt", 180))
    not_utf8 = pyrsa.encrypt(b"\xff", pub)
    raises_at(UnicodeDecodeError, lambda: m.rsa_decrypt(not_utf8, pri), ("rsa_decrypt", 180))


@pytest.mark.parametrize("digits", ["abc", "zz" * 64, b"0g"], ids=["odd", "not-hex", "bytes-not-hex"])
def test_bad_hex_digits(keys, digits):
    raises_at(binascii.Error, lambda: m.rsa_decrypt(digits, keys[1], True), ("rsa_decrypt", 179), match="(?i)odd|non-hex")


def test_truth_of_hexs_comes_first_in_decryption():
    calls = []
    stand_in = types.SimpleNamespace(decrypt=lambda *args: calls.append(args))
    with module_global("rsa", stand_in), module_global("a2b_hex", lambda v: calls.append(v)):
        raises_at(ZeroDivisionError, lambda: m.rsa_decrypt(b"x", "key", Untestable()), ("rsa_decrypt", 179))
    assert calls == []


def test_calls_into_python_rsa():
    """The exact arguments python-rsa gets, and the globals looked up at each call."""
    calls = []

    def encrypt(*args, **kwargs):
        calls.append(("encrypt", args, kwargs))
        return b"\x01\xab"

    def decrypt(*args, **kwargs):
        calls.append(("decrypt", args, kwargs))
        return "plain".encode()

    key = object()
    with module_global("rsa", types.SimpleNamespace(encrypt=encrypt, decrypt=decrypt)):
        assert m.rsa("tëxt", key) == b"\x01\xab"
        assert m.rsa("tëxt", key, True) == b"01ab"
        assert m.rsa_decrypt("01AB", key, True) == "plain"
        assert m.rsa_decrypt(b"raw", key) == "plain"
    assert calls == [
        ("encrypt", ("tëxt".encode(), key), {}),
        ("encrypt", ("tëxt".encode(), key), {}),
        ("decrypt", (b"\x01\xab", key), {}),
        ("decrypt", (b"raw", key), {}),
    ]


# --- another implementation ----------------------------------------------------------


def test_ciphertext_decrypts_elsewhere(keys):
    pub, pri = keys
    private = serialization.load_pem_private_key(pri.save_pkcs1(), password=None)
    text = "Hello, 世界"
    assert private.decrypt(m.rsa(text, pub), padding.PKCS1v15()) == text.encode()
    digits = m.rsa(text, pub, True)
    assert private.decrypt(bytes.fromhex(digits.decode()), padding.PKCS1v15()) == text.encode()


def test_ciphertext_from_elsewhere_decrypts(keys):
    pub, pri = keys
    public = serialization.load_pem_public_key(pub.save_pkcs1())
    text = "z" * 53
    ciphertext = public.encrypt(text.encode(), padding.PKCS1v15())
    assert m.rsa_decrypt(ciphertext, pri) == text
    assert m.rsa_decrypt(ciphertext.hex().upper(), pri, True) == text


# --- references ----------------------------------------------------------------------


def test_no_leaks(keys):
    pub, pri = keys
    hex_text = m.rsa("hello", pub, True)

    def calls():
        m.rsa_decrypt(m.rsa("hello", pub), pri)
        m.rsa_decrypt(hex_text, pri, True)
        m.rsa("x" * 54, pub)

    assert blocks_growth(calls, 500, warmup=200) < 50


def test_no_leaks_in_rsa_keys():
    def calls():
        keys_with(lambda bits: [object(), object()], 53)
        keys_with(lambda bits: [object(), object(), object()], 53.5)
        keys_with(lambda bits: [object()], 200)
        m.rsa_keys("16")

    assert blocks_growth(calls, 2000) < 50
