"""Binding arguments to parameters: the TypeError texts and their traceback entries."""

import base64
import ctypes

import pytest
from Crypto.Cipher import AES
from Crypto.Util.Padding import pad

from conftest import crypt_entries
from crypt_main import _Crypt, m_crypt

LINES = {"__init__": 32, "aes_ecb": 60, "aes_ecb_decrypt": 66, "aes_cbc": 73, "aes_cbc_decrypt": 79,
         "base64": 86, "base64_decrypt": 91, "des": 96, "des_decrypt": 102, "md5": 109, "md5_hmac": 125,
         "php": 135, "php_decrypt": 142, "_add_to_16": 150, "rsa_keys": 157, "rsa": 171, "rsa_decrypt": 177,
         "sha1": 183, "sha256": 196, "sha384": 209, "sha512": 222, "token": 235, "token_decrypt": 243}

# (method, positional count) -> the whole message. Plain methods are called through the
# class, so the count includes the instance.
COUNT_ERRORS = [
    ("__init__", 0, "__init__() takes exactly 1 positional argument (0 given)"),
    ("__init__", 2, "__init__() takes exactly 1 positional argument (2 given)"),
    *[(name, n, f"{name}() takes exactly 1 positional argument ({n} given)")
      for name in ("base64", "base64_decrypt", "_add_to_16") for n in (0, 2)],
    *[(name, n, f"{name}() takes exactly 2 positional arguments ({n} given)")
      for name in ("aes_ecb", "aes_ecb_decrypt", "des", "des_decrypt", "md5_hmac",
                   "md5", "sha1", "sha256", "sha384", "sha512") for n in (0, 1, 3)],
    *[(name, n, f"{name}() takes exactly 3 positional arguments ({n} given)")
      for name in ("aes_cbc", "aes_cbc_decrypt") for n in (2, 4)],
    *[(name, n, f"{name}() takes at least 4 positional arguments ({n} given)")
      for name in ("php", "php_decrypt") for n in (0, 3)],
    *[(name, 6, f"{name}() takes at most 5 positional arguments (6 given)") for name in ("php", "php_decrypt")],
    ("rsa_keys", 2, "rsa_keys() takes at most 1 positional argument (2 given)"),
    *[(name, 1, f"{name}() takes at least 2 positional arguments (1 given)")
      for name in ("rsa", "rsa_decrypt", "token_decrypt")],
    *[(name, 4, f"{name}() takes at most 3 positional arguments (4 given)")
      for name in ("rsa", "rsa_decrypt", "token_decrypt")],
    ("token", 0, "token() takes at least 2 positional arguments (0 given)"),
    ("token", 1, "token() takes at least 2 positional arguments (1 given)"),
    ("token", 5, "token() takes at most 4 positional arguments (5 given)"),
]


def binding_error(call, method):
    with pytest.raises(TypeError) as info:
        call()
    assert crypt_entries(info.value) == [(f"crypt_main._Crypt.{method}", LINES[method])]
    return str(info.value)


@pytest.mark.parametrize("name, count, message", COUNT_ERRORS)
def test_count_errors(name, count, message):
    f = getattr(_Crypt, name)
    args = [object()] * count
    assert binding_error(lambda: f(*args), name) == message
    # the ordinary call protocol binds the same way
    assert binding_error(lambda: f.__call__(*args), name) == message


@pytest.mark.parametrize("call, message", [
    # a plain method called through the instance counts the instance too
    (lambda: m_crypt.php("v", "k"), "php() takes at least 4 positional arguments (3 given)"),
    (lambda: m_crypt.php_decrypt(1, 2, 3, 4, 5), "php_decrypt() takes at most 5 positional arguments (6 given)"),
    # a missing required parameter is reported by its position
    (lambda: m_crypt.token(key="k"), "token() takes at least 2 positional arguments (0 given)"),
    (lambda: m_crypt.token("d", issuer="i"), "token() takes at least 2 positional arguments (1 given)"),
    (lambda: m_crypt.md5("x", value="y"), "md5() takes exactly 2 positional arguments (1 given)"),
    (lambda: m_crypt.md5(fmt="lower"), "md5() takes exactly 2 positional arguments (0 given)"),
    (lambda: m_crypt.aes_cbc("v", iv="i", value="w"), "aes_cbc() takes exactly 3 positional arguments (1 given)"),
    # too many positionals are counted before keywords are looked at
    (lambda: m_crypt.md5(1, 2, 3, fmt="x"), "md5() takes exactly 2 positional arguments (3 given)"),
    (lambda: m_crypt.md5("x", "lower", extra=1), "md5() got an unexpected keyword argument 'extra'"),
    (lambda: m_crypt.md5("x", "lower", value="y"), "md5() got multiple values for keyword argument 'value'"),
    (lambda: m_crypt.rsa_keys(size=1), "rsa_keys() got an unexpected keyword argument 'size'"),
    (lambda: m_crypt.rsa_keys(1, length=2), "rsa_keys() got multiple values for keyword argument 'length'"),
    (lambda: m_crypt.token("d", "k", 1, "i", exp_time=2),
     "token() got multiple values for keyword argument 'exp_time'"),
    # the first offending keyword, in call order, decides
    (lambda: m_crypt.token("d", data=1, zzz=2, key="k"), "token() got multiple values for keyword argument 'data'"),
    (lambda: m_crypt.token("d", "k", zzz=2, data=1), "token() got an unexpected keyword argument 'zzz'"),
    (lambda: m_crypt.php("v", "k", "i", self=1), "php() got multiple values for keyword argument 'self'"),
], ids=lambda v: v if isinstance(v, str) else "")
def test_keyword_errors(call, message):
    method = message.split("(")[0]
    assert binding_error(call, method) == message


@pytest.mark.parametrize("kwargs", [{"value": "x", "fmt": "lower"}, {"fmt": "lower", "value": "x"},
                                    {"".join(["val", "ue"]): "x", "".join(["f", "mt"]): "lower"}],
                         ids=["in-order", "reversed", "equal-not-identical-names"])
def test_keywords_bind_by_name(kwargs):
    assert m_crypt.md5(**kwargs) == m_crypt.md5.__call__(**kwargs) == m_crypt.md5("x", "lower")


class KeywordName(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        raise LookupError("compared")


def test_a_failing_keyword_comparison_passes_through():
    with pytest.raises(LookupError, match="compared") as info:
        m_crypt.md5("x", **{KeywordName("fmt"): "lower"})
    assert crypt_entries(info.value) == [("crypt_main._Crypt.md5", 109)]


# Calls that Python syntax cannot make, through the C API.
api = ctypes.pythonapi
api.PyObject_Vectorcall.restype = ctypes.py_object
api.PyObject_Vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                                    ctypes.py_object]
api.PyObject_Call.restype = ctypes.py_object
api.PyObject_Call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]


def vectorcall(f, args, kwnames):
    stack = (ctypes.py_object * len(args))(*args)
    return api.PyObject_Vectorcall(f, stack, len(args) - len(kwnames), kwnames)


def test_calls_that_python_syntax_cannot_make():
    assert vectorcall(m_crypt.md5, ("lower", "x"), ("fmt", "value")) == m_crypt.md5("x", "lower")
    with pytest.raises(TypeError) as info:
        vectorcall(m_crypt.md5, ("x", "lower", 1), (7,))
    assert str(info.value) == "md5() keywords must be strings"
    assert crypt_entries(info.value) == [("crypt_main._Crypt.md5", 109)]
    with pytest.raises(TypeError) as info:
        api.PyObject_Call(m_crypt.md5, ("x",), {1: "lower"})
    assert str(info.value) == "keywords must be strings" and crypt_entries(info.value) == []


class AnyName(str):
    """A keyword name equal to every parameter name; it hashes like the str it holds."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        return True


def aes_cbc(value, key, iv):
    return AES.new(key.encode(), AES.MODE_CBC, iv.encode()).encrypt(pad(value.encode(), 16))


def php(value, key, iv, base64s):
    def zero_fill(data):
        return data + b"\0" * (-len(data) % 16)

    raw = AES.new(zero_fill(key.encode("gbk")), AES.MODE_CBC, iv.encode()).encrypt(zero_fill(value.encode("gbk")))
    return base64.b64encode(raw).decode() if base64s else raw


REFERENCE = {"aes_cbc": aes_cbc, "php": php}

ANY, A, V, K, I = AnyName("x"), "A" * 16, "V" * 16, "K" * 16, "I" * 16
KEY_NOT_INTERNED = "".join(["k", "ey"])

# (method, keywords in call order, the values bound to the parameters after self). A
# name equal to every parameter binds each parameter that it is searched for, so it can
# use up more than its share of the keyword count: once none is left over, the keywords
# are not gone through again.
ANY_NAME_CASES = [
    pytest.param(method, keywords, bound, id=f"{method}-{case}")
    for method, cases in {
        "aes_cbc": {
            "extra-keyword-unread": ([(ANY, A), ("bogus", 0)], (A, A, A)),
            "value-by-its-name": ([("value", V), (ANY, A)], (V, A, A)),
            "found-before-an-equal-name": ([(ANY, A), (KEY_NOT_INTERNED, K)], (A, A, A)),
            # one keyword left over: the keywords are gone through again, and the name equal
            # to every parameter binds the first one not given by position (value) again
            "left-over": ([("value", V), ("key", K), ("iv", I), (ANY, A)], (A, K, I)),
        },
        "php": {
            "extra-keyword-unread": ([(ANY, A), ("bogus", 0)], (A, A, A, False)),
            "value-by-its-name": ([("value", V), (ANY, A)], (V, A, A, False)),
            "found-before-an-equal-name": ([(ANY, A), (KEY_NOT_INTERNED, K)], (A, A, A, False)),
            "left-over": ([("value", V), ("key", K), ("iv", I), ("base64s", 0), (ANY, A)], (A, K, I, 0)),
        },
    }.items()
    for case, (keywords, bound) in cases.items()
]


@pytest.mark.parametrize("protocol", ["vectorcall", "call"])
@pytest.mark.parametrize("through", ["instance", "class"])
@pytest.mark.parametrize("method, keywords, bound", ANY_NAME_CASES)
def test_a_name_equal_to_several_parameters(method, keywords, bound, through, protocol):
    f = getattr(m_crypt if through == "instance" else _Crypt, method)
    args = (m_crypt,) if method == "php" and through == "class" else ()
    if protocol == "vectorcall":
        result = vectorcall(f, (*args, *(v for _, v in keywords)), tuple(k for k, _ in keywords))
    else:
        result = type(f).__call__(f, *args, **dict(keywords))
    assert result == REFERENCE[method](*bound)
