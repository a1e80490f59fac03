"""Binding arguments to parameters: the TypeError texts and their traceback entries (the
failing calls: rows of method_cases.py)."""

import base64
import ctypes

import pytest
from Crypto.Cipher import AES
from Crypto.Util.Padding import pad

from conftest import crypt_entries
from crypt_main import _Crypt, m_crypt
from method_cases import DEFINED_AT, failures

MD5_ENTRY = [("crypt_main._Crypt.md5", DEFINED_AT["md5"])]


@pytest.mark.parametrize("case", failures(binding=True))
def test_binding_errors(case):
    case.raises()
    # the ordinary call protocol (a tuple and a dictionary) binds the same way
    case.raises(lambda: case.function().__call__(*case.args, **case.kwargs))


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
    assert crypt_entries(info.value) == MD5_ENTRY


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
    assert crypt_entries(info.value) == MD5_ENTRY
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
