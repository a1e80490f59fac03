"""rsa_keys, rsa and rsa_decrypt (their failures: rows of method_cases.py)."""

import re
import types

import pytest
import rsa as pyrsa

from conftest import m, module_global, tool
from method_cases import Length, failures

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
        return self.result


def keys_with(newkeys, *args):
    with module_global("rsa", types.SimpleNamespace(newkeys=newkeys)):
        return m.rsa_keys(*args)


# --- rsa_keys ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "length, bits",
    [(53, 512), (54, 1024), (117, 1024), (118, 2048), (245, 2048), (246, 4096),
     (-100, 512), (53.5, 1024), (10**40, 4096), (NO_ARGUMENT, 4096),
     (Length(at512="", at1024=[0]), 1024),  # each comparison's result is taken for its truth
     (Length(at512=False, at1024=False, at2048=False), 4096)],
)
def test_key_size_for_plaintext_length(length, bits):
    newkeys = NewKeys()
    assert (keys_with(newkeys) if length is NO_ARGUMENT else keys_with(newkeys, length)) == ("pub", "pri")
    assert newkeys.calls == [((bits,), {})] and type(newkeys.calls[0][0][0]) is int


def generator(*items):
    yield from items


@pytest.mark.parametrize("result", [["pub", "pri"], generator("pub", "pri")], ids=["list", "generator"])
def test_pair_is_a_new_tuple_of_the_two_items(result):
    pair = keys_with(NewKeys(result), 53)
    assert type(pair) is tuple and pair == ("pub", "pri")


@pytest.mark.parametrize("case", failures("rsa_keys", "rsa", "rsa_decrypt"))
def test_failures(case):
    case.raises()


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


def test_against_another_implementation(keys):
    tool("cryptography")
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric import padding

    pub, pri = keys
    private = serialization.load_pem_private_key(pri.save_pkcs1(), password=None)
    text = "Hello, 世界"
    assert private.decrypt(m.rsa(text, pub), padding.PKCS1v15()) == text.encode()
    assert private.decrypt(bytes.fromhex(m.rsa(text, pub, True).decode()), padding.PKCS1v15()) == text.encode()
    ciphertext = serialization.load_pem_public_key(pub.save_pkcs1()).encrypt(b"z" * 53, padding.PKCS1v15())
    assert m.rsa_decrypt(ciphertext, pri) == m.rsa_decrypt(ciphertext.hex().upper(), pri, True) == "z" * 53
