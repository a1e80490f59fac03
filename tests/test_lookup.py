"""Remembered look-ups: module globals, module attributes and methods found on a type
are answered from tables, and every change is seen at the very next call."""

import hashlib
import types

import pytest

from conftest import DELETE, module_global, raises_at
from crypt_main import m_crypt

import crypt_main


class FakeHash:
    """Stands for a hashlib object: hexdigest gives the fed data back as text."""

    def __init__(self):
        self.data = b""

    def update(self, data):
        self.data += data

    def hexdigest(self):
        return "fake:" + self.data.decode()


def fake_hashlib():
    return types.SimpleNamespace(md5=FakeHash, sha256=FakeHash)


@pytest.mark.parametrize("name", ["md5", "sha256"])
def test_a_changed_module_attribute_is_seen_at_the_next_call(name, monkeypatch):
    assert getattr(m_crypt, name)("abc", "lower") == getattr(hashlib, name)(b"abc").hexdigest()
    monkeypatch.setattr(hashlib, name, FakeHash)
    assert getattr(m_crypt, name)("abc", "lower") == "fake:abc"
    monkeypatch.delattr(hashlib, name)
    raises_at(AttributeError, lambda: getattr(m_crypt, name)("abc", "lower"),
              (name, 111 if name == "md5" else 198))
    monkeypatch.undo()
    assert getattr(m_crypt, name)("abc", "lower") == getattr(hashlib, name)(b"abc").hexdigest()


def test_a_rebound_or_deleted_global_is_seen_at_the_next_call():
    m_crypt.md5("warm", "lower")
    with module_global("hashlib", fake_hashlib()):
        assert m_crypt.md5("abc", None) == "fake:abc"
    assert m_crypt.md5("abc", None) == hashlib.md5(b"abc").hexdigest()
    with module_global("hashlib", DELETE):
        raises_at(NameError, lambda: m_crypt.md5("abc", None), ("md5", 111), match="name 'hashlib' is not defined")
    assert m_crypt.md5("abc", None) == hashlib.md5(b"abc").hexdigest()


def test_a_global_found_in_builtins_gives_way_to_a_module_global():
    with module_global("hashlib", DELETE):
        import builtins

        builtins.hashlib = fake_hashlib()
        try:
            assert m_crypt.md5("abc", None) == "fake:abc"
            with module_global("hashlib", hashlib):
                assert m_crypt.md5("abc", None) == hashlib.md5(b"abc").hexdigest()
            builtins.hashlib = types.SimpleNamespace(md5=lambda: FakeHash())
            assert m_crypt.md5("xyz", None) == "fake:xyz"
        finally:
            del builtins.hashlib


class Key:
    """A key with an equality of its own: namespaces holding one are looked up as usual."""

    def __hash__(self):
        return hash("hashlib")

    def __eq__(self, other):
        return False


def test_a_namespace_with_a_key_that_is_not_text_is_looked_up_as_usual():
    namespace = crypt_main.__dict__
    namespace[Key()] = None
    try:
        assert m_crypt.md5("abc", None) == hashlib.md5(b"abc").hexdigest()
        with module_global("hashlib", fake_hashlib()):
            assert m_crypt.md5("abc", None) == "fake:abc"
    finally:
        for key in [k for k in namespace if isinstance(k, Key)]:
            del namespace[key]
    assert m_crypt.md5("abc", None) == hashlib.md5(b"abc").hexdigest()


def test_a_module_subclass_answers_through_its_type():
    class Module(types.ModuleType):
        @property
        def md5(self):
            return FakeHash

    module = Module("hashlib")
    module.__dict__["md5"] = hashlib.md5  # the property on the type wins
    with module_global("hashlib", module):
        assert m_crypt.md5("abc", None) == "fake:abc"


class Text(str):
    __slots__ = ()  # no instance dictionary: the method is found on the type alone

    def encode(self, encoding):
        return b"first"


def test_a_method_changed_on_the_type_is_seen_at_the_next_call():
    value = Text("abc")
    assert m_crypt.sha256(value, None) == hashlib.sha256(b"first").hexdigest()
    Text.encode = lambda self, encoding: b"second"
    try:
        assert m_crypt.sha256(value, None) == hashlib.sha256(b"second").hexdigest()
        del Text.encode  # str.encode again
        assert m_crypt.sha256(value, None) == hashlib.sha256(b"abc").hexdigest()
    finally:
        Text.encode = lambda self, encoding: b"first"


class Shadowed(str):
    pass


def test_an_instance_attribute_shadows_the_method_of_the_type():
    value = Shadowed("abc")
    assert m_crypt.sha256(value, None) == hashlib.sha256(b"abc").hexdigest()
    value.encode = lambda encoding: b"own"
    assert m_crypt.sha256(value, None) == hashlib.sha256(b"own").hexdigest()


def test_a_method_that_takes_itself_off_its_type_while_running():
    class Vanishing(str):
        __slots__ = ()

        def encode(self, encoding):
            del Vanishing.encode  # drops the type's reference to this very function
            return b"once"

    assert m_crypt.sha256(Vanishing("abc"), None) == hashlib.sha256(b"once").hexdigest()
    assert m_crypt.sha256(Vanishing("abc"), None) == hashlib.sha256(b"abc").hexdigest()
