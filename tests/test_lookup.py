"""Remembered look-ups: module globals, module attributes and methods found on a type
are answered from tables, and every change is seen at the very next call."""

import builtins
import hashlib
import sys
import traceback
import types

import pytest

import crypt_main
from conftest import DELETE, module_global, raises_at
from crypt_main import m_crypt

MD5_ABC = hashlib.md5(b"abc").hexdigest()


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


def remembered():
    """Reads the module's namespace until its answers are remembered again: a namespace
    that changed often (as the tests change it) is read as usual for a while."""
    for _ in range(200):
        m_crypt.md5("abc", None)


@pytest.mark.parametrize("name", ["md5", "sha256"])
def test_a_changed_module_attribute_is_seen_at_the_next_call(name, monkeypatch):
    assert getattr(m_crypt, name)("abc", "lower") == getattr(hashlib, name)(b"abc").hexdigest()
    monkeypatch.setattr(hashlib, name, FakeHash)
    assert getattr(m_crypt, name)("abc", "lower") == "fake:abc"
    monkeypatch.delattr(hashlib, name)
    raises_at(AttributeError, lambda: getattr(m_crypt, name)("abc", "lower"), (name, 111 if name == "md5" else 198))
    monkeypatch.undo()
    assert getattr(m_crypt, name)("abc", "lower") == getattr(hashlib, name)(b"abc").hexdigest()


def test_a_global_found_in_builtins_gives_way_to_a_module_global():
    with module_global("hashlib", DELETE):
        builtins.hashlib = types.SimpleNamespace(md5=hashlib.sha1)
        try:
            remembered()
            assert m_crypt.md5("abc", "lower") == hashlib.sha1(b"abc").hexdigest()
            builtins.hashlib = fake_hashlib()  # the module's namespace is not touched
            assert m_crypt.md5("abc", None) == "fake:abc"
            with module_global("hashlib", hashlib):
                assert m_crypt.md5("abc", None) == MD5_ABC
            builtins.hashlib = types.SimpleNamespace(md5=lambda: FakeHash())
            assert m_crypt.md5("xyz", None) == "fake:xyz"
        finally:
            del builtins.hashlib


def test_a_namespace_refilled_from_a_copy_is_seen_at_the_next_call():
    namespace = crypt_main.__dict__
    saved = dict(namespace)
    try:
        remembered()
        namespace.clear()
        raises_at(NameError, lambda: m_crypt.md5("abc", "lower"), ("md5", 111))
        namespace.update(saved)  # an emptied dictionary takes a copy of another's keys
        assert m_crypt.md5("abc", "lower") == MD5_ABC
    finally:
        namespace.update(saved)


def test_str_is_the_builtin_type_not_a_global():
    with module_global("str", None):
        assert m_crypt.base64_decrypt(m_crypt.base64("é")) == "é"
        assert m_crypt.php_decrypt(m_crypt.php("é", "key", "0" * 16, True), "key", "0" * 16, True) == "é"


class Key:
    """A key with an equality of its own, which a look-up of "hashlib" meets when it is
    placed before that name: namespaces holding one are looked up as usual."""

    def __init__(self):
        self.comparisons = 0

    def __hash__(self):
        return hash("hashlib")

    def __eq__(self, other):
        self.comparisons += 1
        return False


def test_a_namespace_with_a_key_that_is_not_text_is_looked_up_as_usual():
    namespace = crypt_main.__dict__
    saved = list(namespace.items())
    key = Key()
    try:
        remembered()  # a remembered namespace that then changes
        hashlib_module = namespace.pop("hashlib")
        namespace[key] = None
        namespace["hashlib"] = hashlib_module  # after the key: each look-up compares with the key first
        python_global = types.FunctionType((lambda: hashlib).__code__, namespace)
        key.comparisons = 0
        for _ in range(5):
            python_global()
        looked_up, key.comparisons = key.comparisons, 0
        for _ in range(5):
            assert m_crypt.md5("abc", None) == MD5_ABC
        assert key.comparisons == looked_up > 0  # each call's look-up, as in Python
        with module_global("hashlib", fake_hashlib()):
            assert m_crypt.md5("abc", None) == "fake:abc"
    finally:
        namespace.clear()  # the bindings back in their order
        namespace.update(saved)
    assert m_crypt.md5("abc", None) == MD5_ABC


def test_a_module_subclass_answers_through_its_type():
    class Module(types.ModuleType):
        @property
        def md5(self):
            return FakeHash

    module = Module("hashlib")
    module.__dict__["md5"] = hashlib.md5  # the property on the type wins
    with module_global("hashlib", module):
        assert m_crypt.md5("abc", None) == "fake:abc"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def test_a_method_changed_on_the_type_is_seen_at_the_next_call():
    class Text(str):
        __slots__ = ()  # no instance dictionary: the method is found on the type alone

        def encode(self, encoding):
            return b"first"

    value = Text("abc")
    assert m_crypt.sha256(value, None) == sha256(b"first")
    Text.encode = lambda self, encoding: b"second"
    assert m_crypt.sha256(value, None) == sha256(b"second")
    del Text.encode  # str.encode again
    assert m_crypt.sha256(value, None) == sha256(b"abc")


def test_an_instance_attribute_shadows_the_method_of_the_type():
    class Shadowed(str):
        pass

    value = Shadowed("abc")
    assert m_crypt.sha256(value, None) == sha256(b"abc")
    value.encode = lambda encoding: b"own"
    assert m_crypt.sha256(value, None) == sha256(b"own")


def test_a_method_that_takes_itself_off_its_type_while_running():
    class Vanishing(str):
        __slots__ = ()

        def encode(self, encoding):
            del Vanishing.encode  # drops the type's reference to this very function
            return b"once"

    assert m_crypt.sha256(Vanishing("abc"), None) == sha256(b"once")
    assert m_crypt.sha256(Vanishing("abc"), None) == sha256(b"abc")


class OwnEncode(str):
    def encode(self, *args, **kwargs):
        return b"k" * 16


class OwnDecode(bytes):
    def decode(self, *args, **kwargs):
        return "own decode"


KEY16 = "0123456789abcdef"


def test_the_utf_8_short_cut_leaves_subclasses_their_own_codec_methods():
    # encode("utf-8"), encode(encoding="utf-8"), encode(), then decode()
    assert m_crypt.aes_ecb("x", OwnEncode("ignored")) == m_crypt.aes_ecb("x", "k" * 16)
    assert m_crypt.md5(OwnEncode("abc"), None) == hashlib.md5(b"k" * 16).hexdigest()
    assert m_crypt.base64(OwnEncode("abc")) == m_crypt.base64("k" * 16)
    with module_global("unpad", lambda text, size: OwnDecode(b"x")):
        assert m_crypt.aes_ecb_decrypt(m_crypt.aes_ecb("x", KEY16), KEY16) == "own decode"


@pytest.mark.parametrize("data", [b"\xff", b"ok\xc3", b"\xed\xa0\x80"])
def test_the_utf_8_short_cut_fails_as_bytes_decode_does(data):
    ciphertext = m_crypt.aes_ecb("x", KEY16)
    with module_global("unpad", lambda text, size: data):
        error = raises_at(UnicodeDecodeError, lambda: m_crypt.aes_ecb_decrypt(ciphertext, KEY16),
                          ("aes_ecb_decrypt", 70))
    with pytest.raises(UnicodeDecodeError) as expected:
        data.decode()
    assert (str(error), error.args) == (str(expected.value), expected.value.args)


def down(depth, call):
    """call() made under `depth` nested calls of Python functions from C (through map):
    each takes a share of the recursion limit (or of the C stack)."""
    if depth == 0:
        return call()
    return next(map(lambda _: down(depth - 1, call), [None]))


def through_reprs(levels, call):
    """call() made from __repr__ under `levels` nested lists that repr() goes through:
    each takes a small share (one count, or a few hundred bytes of the C stack), so that
    a way down in these steps meets the limit at every step of a call in turn."""
    class Calls:
        def __repr__(self):
            call()
            return ""
    nested = Calls()
    for _ in range(levels):
        nested = [nested]
    return lambda: repr(nested)


def recursion_error(depth, call):
    try:
        down(depth, call)
    except RecursionError as e:
        return e
    return None


def test_the_utf_8_short_cut_meets_the_recursion_limit_as_a_call_of_the_method_does():
    # Called with no recursion left, aes_ecb fails at its first step that counts as a
    # call: key.encode("utf-8") at line 62, with the message of a method's call. Where the
    # limit is a depth of the C stack (3.14 on), the step is small beside those of the way
    # down: the depth at which that happens is found coarsely, in the way down's steps,
    # then in the small steps of nested reprs, each way tried until its call fails there
    # or before the method.
    limit = sys.getrecursionlimit()
    if sys.version_info >= (3, 12):
        sys.setrecursionlimit(10**6)  # Python frames counted apart: the C calls meet their limit first
    def at_the_encoding(error, where):  # (the step's next call, AES.new, fails without the words)
        return where == ("crypt_main.py", 62, "crypt_main._Crypt.aes_ecb") and \
            str(error).endswith(" while calling a Python object")
    seen = []
    try:
        aes_ecb = lambda: m_crypt.aes_ecb("x", KEY16)  # noqa: E731
        aes_ecb()
        low, high = 0, 1  # the first depth at which the way down alone fails
        while recursion_error(high, lambda: None) is None:
            low, high = high, high * 2
        while high - low > 1:
            middle = (low + high) // 2
            low, high = (low, middle) if recursion_error(middle, lambda: None) else (middle, high)
        for depth in range(high - 1, high - 9, -1):
            for levels in range(200):
                error = recursion_error(depth, through_reprs(levels, aes_ecb))
                where = error and tuple(traceback.extract_tb(error.__traceback__)[-1])[:3]
                seen.append((depth, levels, where, str(error)))
                if error is not None and (at_the_encoding(error, where) or where[0] == __file__):
                    break  # there, or before the method: deeper ways fail no later
            if at_the_encoding(error, where):
                break
    finally:
        sys.setrecursionlimit(limit)
    assert at_the_encoding(error, where), seen[-5:]
