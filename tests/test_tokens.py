"""token and token_decrypt: claims, clock readings, the two failure reports, references."""

import base64
import decimal
import json
import sys
import types

import jwt
import pytest

import crypt_main
from conftest import DELETE, blocks_growth, crypt_entries, module_global, raises_at

m = crypt_main.m_crypt
KEY = "a key of thirty-two characters.."
OTHER_KEY = "another key, also long enough..."
PREFIX = "系统异常："


def claims_in_order(token):
    """The payload of `token` as a list of (claim, value) pairs, in the order of its JSON text."""
    part = token.split(".")[1]
    text = base64.urlsafe_b64decode(part + "=" * (-len(part) % 4))
    return json.loads(text, object_pairs_hook=list)


class Clock:
    """A stand-in `time` module whose time() hands out the given readings in turn."""

    def __init__(self, *readings):
        self.readings = list(readings)
        self.calls = 0

    def time(self):
        self.calls += 1
        return self.readings.pop(0)


def stand_in_jwt(decode=None, **attributes):
    """A stand-in `jwt` module: decode as given, the real exceptions unless replaced."""
    namespace = {"exceptions": jwt.exceptions, "encode": jwt.encode, **attributes}
    if decode is not None:
        namespace["decode"] = decode
    return types.SimpleNamespace(**namespace)


def raiser(exc):
    def decode(*args, **kwargs):
        raise exc
    return decode


# Issuing

@pytest.mark.parametrize(
    "data, returned",
    [
        ("text, 世界", "text, 世界"),
        (42, 42),
        (None, None),
        ([1, "a", 2.5], [1, "a", 2.5]),
        ((1, 2), [1, 2]),
        ({1: "x", "k": (True, None)}, {"1": "x", "k": [True, None]}),
    ],
)
def test_default_token_round_trip(data, returned):
    token = m.token(data, KEY)
    assert isinstance(token, str)
    claims = dict(claims_in_order(token))
    assert claims["iss"] == "Tarvex"
    assert claims["exp"] - claims["iat"] in (86400, 86401)
    assert m.token_decrypt(token, KEY) == returned
    assert m.token_decrypt(token, key=KEY, issuer="Tarvex") == returned


@pytest.mark.parametrize(
    "exp_time, keys",
    [(86400, ["data", "iat", "iss", "exp"]), (None, ["data", "iat", "iss"])],
)
def test_claims_in_payload_order(exp_time, keys):
    token = m.token({"z": 1, "a": 2}, KEY, exp_time, "Somebody")
    pairs = claims_in_order(token)
    assert [name for name, _ in pairs] == keys
    assert pairs[0] == ("data", [("z", 1), ("a", 2)])
    assert pairs[2] == ("iss", "Somebody")


@pytest.mark.parametrize(
    "exp_time, exp",
    [(86400, 86605), (0, 205), (True, 206), (False, 205), (-10, 195), (10**30, 205 + 10**30)],
)
def test_clock_is_read_twice_and_exp_comes_from_the_second_reading(exp_time, exp):
    clock = Clock(100.9, 205.7)
    with module_global("time", clock):
        token = m.token("x", KEY, exp_time)
    assert clock.calls == 2
    assert claims_in_order(token) == [("data", "x"), ("iat", 100), ("iss", "Tarvex"), ("exp", exp)]


def test_none_issues_a_token_without_expiry():
    clock = Clock(100.9)
    with module_global("time", clock):
        token = m.token("forever", KEY, None)
    assert clock.calls == 1
    assert claims_in_order(token) == [("data", "forever"), ("iat", 100), ("iss", "Tarvex")]
    assert m.token_decrypt(token, KEY) == "forever"


@pytest.mark.parametrize(
    "exp_time, type_name",
    [(3600.0, "float"), ("3600", "str"), (b"3600", "bytes"), ([3600], "list"), (decimal.Decimal(3600), "Decimal")],
)
def test_other_exp_time_types_are_refused_before_anything_is_issued(exp_time, type_name):
    clock = Clock(100.0, 200.0)
    encoded = []
    stand_in = stand_in_jwt(encode=lambda *args, **kwargs: encoded.append(args))
    with module_global("time", clock), module_global("jwt", stand_in):
        raises_at(TypeError, lambda: m.token("x", KEY, exp_time), ("token", 238),
                  match=f"^exp_time must be an int or None, not {type_name}$")
    assert clock.calls == 1
    assert encoded == []


@pytest.mark.parametrize(
    "clock, data, error_type, line",
    [
        (Clock(), "x", IndexError, 237),               # the first reading fails
        (Clock(1.0), "x", IndexError, 239),            # the second reading fails
        (Clock("soon", 1.0), "x", ValueError, 237),    # int() refuses the reading
        (Clock(1.0, 2.0), object(), TypeError, 240),   # jwt.encode refuses the data
    ],
)
def test_issuing_failures_pass_through(clock, data, error_type, line):
    with module_global("time", clock):
        error = raises_at(error_type, lambda: m.token(data, KEY), ("token", line))
    assert type(error) is error_type


# Verifying

def general_failure(token, key=KEY, issuer="Tarvex"):
    """token_decrypt's report of a failure that is not an expiry; returns (report, cause)."""
    error = raises_at(Exception, lambda: m.token_decrypt(token, key, issuer), ("token_decrypt", 251))
    assert type(error) is Exception
    cause = error.__context__
    assert error.args == (PREFIX + str(cause),)
    assert error.__cause__ is None and not error.__suppress_context__
    return error, cause


@pytest.mark.parametrize(
    "make_token, key, library_error",
    [
        (lambda: m.token(1, KEY, issuer="A"), KEY, jwt.exceptions.InvalidIssuerError),
        (lambda: m.token(1, KEY), OTHER_KEY, jwt.exceptions.InvalidSignatureError),
        (lambda: "not a token at all", KEY, jwt.exceptions.DecodeError),
        (lambda: jwt.encode({"data": 1}, KEY, algorithm="HS256"), KEY, jwt.exceptions.MissingRequiredClaimError),
    ],
)
def test_verification_failures_become_plain_exception(make_token, key, library_error):
    _, cause = general_failure(make_token(), key)
    assert type(cause) is library_error
    assert crypt_entries(cause) == [("crypt_main._Crypt.token_decrypt", 246)]


def test_expired_token_becomes_timeout_error():
    token = m.token("late", KEY, -10)
    errors = []
    for _ in range(2):
        error = raises_at(TimeoutError, lambda: m.token_decrypt(token, KEY), ("token_decrypt", 249))
        assert type(error) is TimeoutError
        assert error.args == ("token已过期",) and str(error) == "token已过期"
        assert type(error.__context__) is jwt.exceptions.ExpiredSignatureError
        assert crypt_entries(error.__context__) == [("crypt_main._Crypt.token_decrypt", 246)]
        assert error.__cause__ is None and not error.__suppress_context__
        errors.append(error)
    assert errors[0].args is errors[1].args  # one argument tuple, made once


def test_timeout_error_is_a_module_global():
    class Late(Exception):
        pass

    with module_global("TimeoutError", Late):
            raises_at(Late, lambda: m.token_decrypt(m.token(1, KEY, -10), KEY), ("token_decrypt", 249))


def test_token_without_data_gives_none():
    token = jwt.encode({"iss": "Tarvex", "exp": 2**40}, KEY, algorithm="HS256")
    assert m.token_decrypt(token, KEY) is None


def test_a_new_algorithms_list_on_every_call():
    seen = []

    def decode(token, key, issuer, algorithms):
        seen.append(algorithms)
        algorithms.append("none")
        return {"data": (token, key, issuer)}

    with module_global("jwt", stand_in_jwt(decode)):
        assert m.token_decrypt("t", "k", "i") == ("t", "k", "i")
        assert m.token_decrypt("t", "k") == ("t", "k", "Tarvex")
    assert seen == [["HS256", "none"], ["HS256", "none"]]
    assert seen[0] is not seen[1]


def test_failing_get_is_reported_from_line_247():
    with module_global("jwt", stand_in_jwt(lambda *args, **kwargs: ["no", "get"])):
        _, cause = general_failure("t")
    assert type(cause) is AttributeError
    assert crypt_entries(cause) == [("crypt_main._Crypt.token_decrypt", 247)]


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3), GeneratorExit()])
def test_base_exceptions_pass_through_unchanged(exc):
    with module_global("jwt", stand_in_jwt(raiser(exc))):
        error = raises_at(type(exc), lambda: m.token_decrypt("t", KEY), ("token_decrypt", 246))
    assert error is exc and error.__context__ is None


@pytest.mark.parametrize(
    "stand_in, error_type, message",
    [
        (stand_in_jwt(raiser(ValueError("bad")), exceptions=DELETE), AttributeError, "exceptions"),
        (stand_in_jwt(raiser(ValueError("bad")), exceptions=types.SimpleNamespace(ExpiredSignatureError="x")),
         TypeError, "^catching classes that do not inherit from BaseException is not allowed$"),
    ],
)
def test_failure_while_handling_replaces_the_caught_exception(stand_in, error_type, message):
    if stand_in.exceptions is DELETE:
        del stand_in.exceptions
    with module_global("jwt", stand_in):
        error = raises_at(error_type, lambda: m.token_decrypt("t", KEY), ("token_decrypt", 248), match=message)
    caught = error.__context__
    assert type(caught) is ValueError and caught.args == ("bad",)
    assert crypt_entries(caught) == [("crypt_main._Crypt.token_decrypt", 246)]


class Recorder:
    """A stand-in `jwt.exceptions` that records sys.exception() when the handler looks into it."""

    def __init__(self):
        self.seen = []

    @property
    def ExpiredSignatureError(self):
        self.seen.append(sys.exception())
        return jwt.exceptions.ExpiredSignatureError


@pytest.mark.parametrize(
    "decode",
    [
        lambda *args, **kwargs: {"data": 1},
        raiser(ValueError("bad")),
        raiser(jwt.exceptions.ExpiredSignatureError("late")),
        raiser(KeyboardInterrupt()),
    ],
    ids=["success", "failure", "expired", "interrupt"],
)
def test_caught_exception_is_handled_only_while_handling(decode):
    recorder = Recorder()
    outer = LookupError("outer")
    with module_global("jwt", stand_in_jwt(decode, exceptions=recorder)):
        try:
            raise outer
        except LookupError:
            try:
                m.token_decrypt("t", KEY)
            except BaseException as error:
                raised = error
            else:
                raised = None
            assert sys.exception() is outer
    assert sys.exception() is None
    if raised is None:
        assert recorder.seen == []
    else:
        caught = raised if isinstance(raised, KeyboardInterrupt) else raised.__context__
        assert recorder.seen == [caught]
        assert caught.__context__ is outer


# References

def expect_interrupt():
    try:
        with module_global("jwt", stand_in_jwt(raiser(KeyboardInterrupt()))):
            m.token_decrypt("t", KEY)
    except KeyboardInterrupt:
        pass


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.token_decrypt(m.token({"v": [1, 2]}, KEY), KEY),
        lambda: m.token_decrypt(m.token("x", KEY), OTHER_KEY),
        lambda: m.token_decrypt(m.token("x", KEY, -10), KEY),
        lambda: m.token_decrypt("garbage", KEY),
        lambda: m.token("x", KEY, 1.5),
        lambda: m.token(object(), KEY),
        expect_interrupt,
    ],
    ids=["round-trip", "wrong-key", "expired", "garbage", "refused-exp", "bad-data", "interrupt"],
)
def test_no_growth_over_many_calls(call):
    # PyJWT and the interpreter settle some one-time allocations late in a process: the
    # better of two rounds is taken. A reference lost per call grows both by thousands.
    assert min(blocks_growth(call, 4000, warmup=2000) for _ in range(2)) < 30
