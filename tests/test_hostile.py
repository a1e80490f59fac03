"""Hostile input: arbitrary objects for every parameter of every method, by position
and by keyword, drawn at random, and each hostile object in each position, swept. Each
call gives a value or raises an ordinary exception: never a crash and never SystemError
(which is also what the interpreter raises when a C function returns a result with an
exception still set, or fails without one)."""

import contextlib
import math

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import crypt_main
from method_cases import CASES, CT_CBC, CT_DES, CT_ECB, CT_PHP, CT_RSA, IV16, KEY8, KEY16, PRI, PUB, TEXT, TOKEN, FakeRsa
from conftest import FIGURES, module_global, scaled
from hostile_objects import LIES, Bytes, Text
from crypt_main import _Crypt, m_crypt

BIG_TEXT = "x" * (16 << 20)  # 16 MiB


SURROGATES = ["\ud800", "ab\udc80cd", "\udfff" * 16, "x\ud800y" * 5]
VALID = [TEXT, KEY16, KEY8, IV16, "", CT_ECB, CT_CBC, CT_DES, CT_PHP, CT_RSA, CT_RSA.hex(), TOKEN, PUB, PRI,
         "upper", "lower", True, False, 53, 2048, m_crypt]
NUMBERS = [None, 0, -1, 1 << 64, -(1 << 200), 0.5, math.nan, math.inf, -math.inf, 3j]

values = st.one_of(
    st.sampled_from(VALID),
    st.sampled_from(LIES),
    st.sampled_from(NUMBERS),
    st.sampled_from(SURROGATES),
    st.text(max_size=40),
    st.binary(max_size=40),
    st.binary(max_size=40).map(bytearray),
    st.binary(max_size=40).map(memoryview),
    st.text(max_size=20).map(Text),
    st.binary(max_size=20).map(Bytes),
    st.integers(),
    st.just(BIG_TEXT),
)

METHODS = [name for name, attr in vars(_Crypt).items() if callable(getattr(attr, "__func__", attr))]


def parameters(name):
    function = getattr(_Crypt, name)
    code = function.__code__
    return function, code.co_varnames[:code.co_argcount], len(function.__defaults__ or ())


# Arbitrary keys are short on purpose: PyJWT's warning about HS256 keys under 32 bytes is
# not what this test looks at.
@pytest.mark.filterwarnings("ignore:The HMAC key is")
@pytest.mark.parametrize("name", METHODS)
@settings(max_examples=scaled(100, 5), deadline=None, database=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(data=st.data())
def test_hostile_arguments(name, data):
    function, names, optional = parameters(name)
    count = data.draw(st.integers(len(names) - optional, len(names)), label="passed")
    arguments = [data.draw(values, label=names[i]) for i in range(count)]
    positional = data.draw(st.integers(0, count), label="by position")
    kwargs = dict(zip(names[positional:count], arguments[positional:]))
    # rsa_keys would make real keys: a stand-in that hands out one small pair.
    with module_global("rsa", FakeRsa()) if name == "rsa_keys" else contextlib.nullcontext():
        try:
            function(*arguments[:positional], **kwargs)
        except SystemError as e:  # a fault of the module, not of the input
            raise AssertionError(f"{name}: SystemError {e}") from e
        except Exception:
            pass
    FIGURES["hostile input: examples"] += 1


def test_every_method_is_covered():
    assert set(METHODS) == {name for name in vars(_Crypt) if not name.startswith("__")} | {"__init__"}
    assert crypt_main.m_crypt is m_crypt


def working_arguments(name):
    """Every parameter of `name` (self included) bound as in its first working case."""
    case = next(c for c in CASES if c.method == name and c.kind == "ok")
    function, names, optional = parameters(name)
    given = ((m_crypt,) if names[0] == "self" else ()) + case.args
    bound = dict(zip(names[len(names) - optional:], function.__defaults__ or ()))
    bound.update(zip(names, given), **case.kwargs)
    return case, function, names, [bound[n] for n in names]


PROTOCOLS = {
    "vectorcall": lambda f, names, values, i: f(*values),
    # tp_call with a tuple and a dictionary; the hostile value and those after it by keyword
    "call": lambda f, names, values, i: type(f).__call__(f, *values[:i], **dict(zip(names[i:], values[i:]))),
}


@pytest.mark.filterwarnings("ignore::jwt.warnings.InsecureKeyLengthWarning")  # short keys among the objects
@pytest.mark.parametrize("name", METHODS)
def test_every_hostile_object_in_every_position(name):
    case, function, names, values = working_arguments(name)
    faults, calls = [], 0
    with case.context():
        for i in range(len(names)):
            for lie in LIES:
                for protocol, call in PROTOCOLS.items():
                    calls += 1
                    try:
                        call(function, names, [*values[:i], lie, *values[i + 1:]], i)
                    except SystemError as e:  # a fault of the module, not of the input
                        faults.append(f"{names[i]}={type(lie).__name__} by {protocol}: {e}")
                    except Exception:
                        pass
    assert faults == []
    FIGURES["hostile sweep: calls"] += calls
