"""token and token_decrypt: claims, clock readings, the two failure reports (the failures:
rows of method_cases.py)."""

import base64
import json
import sys
import types

import jwt
import pytest

from conftest import DELETE, crypt_entries, m, module_global, raises_at
from method_cases import BY_ID, failures

KEY = "a key of thirty-two characters.."


def claims_in_order(token):
    """The payload of `token` as a list of (claim, value) pairs, in the order of its JSON text."""
    part = token.split(".")[1]
    return json.loads(base64.urlsafe_b64decode(part + "=" * (-len(part) % 4)), object_pairs_hook=list)


class Clock:
    """A stand-in `time` module whose time() hands out the given readings in turn."""

    def __init__(self, *readings):
        self.readings, self.calls = list(readings), 0

    def time(self):
        self.calls += 1
        return self.readings.pop(0)


def stand_in_jwt(decode=None, **attributes):
    """A stand-in `jwt` module: decode as given, the real exceptions and encode unless replaced."""
    namespace = {"exceptions": jwt.exceptions, "encode": jwt.encode, **attributes}
    if decode is not None:
        namespace["decode"] = decode
    return types.SimpleNamespace(**{k: v for k, v in namespace.items() if v is not DELETE})


def raiser(exc):
    def decode(*args, **kwargs):
        raise exc
    return decode


# Issuing


@pytest.mark.parametrize(
    "data, returned", [("text, 世界", "text, 世界"), ((1, 2), [1, 2]), ({1: "x", "k": None}, {"1": "x", "k": None})]
)
def test_default_token_round_trip(data, returned):
    token = m.token(data, KEY)
    claims = dict(claims_in_order(token))
    assert isinstance(token, str) and claims["iss"] == "Tarvex"
    assert claims["exp"] - claims["iat"] in (86400, 86401)
    assert m.token_decrypt(token, KEY) == m.token_decrypt(token, key=KEY, issuer="Tarvex") == returned


@pytest.mark.parametrize(
    "exp_time, readings, exp",
    [(86400, 2, 86605), (0, 2, 205), (True, 2, 206), (-10, 2, 195), (10**30, 2, 205 + 10**30), (None, 1, None)],
)
def test_claims_in_order_with_exp_from_a_second_clock_reading(exp_time, readings, exp):
    clock = Clock(100.9, 205.7)
    with module_global("time", clock):
        token = m.token({"z": 1, "a": 2}, KEY, exp_time, "Somebody")
    assert clock.calls == readings
    expected = [("data", [("z", 1), ("a", 2)]), ("iat", 100), ("iss", "Somebody")]
    assert claims_in_order(token) == expected + ([("exp", exp)] if exp is not None else [])


def test_token_without_expiry_verifies():
    assert m.token_decrypt(m.token("forever", KEY, None), KEY) == "forever"


@pytest.mark.parametrize("case", [BY_ID["token-exp-float"], BY_ID["token-exp-str"]], ids=lambda c: c.kind)
def test_other_exp_time_types_are_refused_before_anything_is_issued(case):
    clock, encoded = Clock(100.0, 200.0), []
    with module_global("time", clock), module_global("jwt", stand_in_jwt(encode=lambda *a, **k: encoded.append(a))):
        case.raises(bind_globals=False)
    assert clock.calls == 1 and encoded == []


@pytest.mark.parametrize("case", failures("token", "token_decrypt"))
def test_failures(case):
    case.raises()


# Verifying


def plain_exception(error):
    """Checks token_decrypt's report of a failure that is not an expiry; returns PyJWT's error."""
    assert type(error) is Exception and error.args == ("系统异常：" + str(error.__context__),)
    assert error.__cause__ is None and not error.__suppress_context__
    return error.__context__


@pytest.mark.parametrize("case", [p for p in failures("token_decrypt") if p.values[0].error is Exception])
def test_verification_failures_become_plain_exception(case):
    cause = plain_exception(case.raises())  # the type of PyJWT's error is the row's
    assert crypt_entries(cause) == [("crypt_main._Crypt.token_decrypt", 246)]


class Spliced(str):
    """Text whose own __radd__ would decide `text + it` for a str text on the left."""

    def __radd__(self, other):
        return "spliced"


class FormatsAs(Exception):
    """An error whose formatting under an empty specification gives `formatted`."""

    def __init__(self, formatted):
        super().__init__()
        self.formatted = formatted

    def __format__(self, spec):
        return self.formatted


class KeyThatRaises(str):
    """A str key that PyJWT takes, and whose encode, called by PyJWT, raises `error`."""

    def encode(self, *args, **kwargs):
        raise self.error


def format_failure(formatted):
    """The interpreter's own message when formatting FormatsAs(formatted) fails."""
    with pytest.raises(TypeError) as info:
        format(FormatsAs(formatted), "")
    return str(info.value)


@pytest.mark.parametrize("formatted, error_type, message", [
    (Spliced("what went wrong"), Exception, "系统异常：what went wrong"),  # the two texts, joined
    (7, TypeError, format_failure(7)),  # formatting itself fails, as the interpreter words it
], ids=["str-subclass", "not-a-str"])
def test_message_is_the_prefix_and_the_formatted_text(formatted, error_type, message):
    key = KeyThatRaises(KEY)
    key.error = FormatsAs(formatted)
    error = raises_at(error_type, lambda: m.token_decrypt(m.token(1, KEY), key), ("token_decrypt", 251))
    assert type(error) is error_type and error.args == (message,) and type(error.args[0]) is str
    assert error.__context__ is key.error
    assert crypt_entries(key.error) == [("crypt_main._Crypt.token_decrypt", 246)]


def test_expired_token_becomes_timeout_error():
    case = BY_ID["token_decrypt-expired"]
    error = case.raises()  # raised while handling PyJWT's ExpiredSignatureError
    assert error.args == ("token已过期",)
    assert crypt_entries(error.__context__) == [("crypt_main._Crypt.token_decrypt", 246)]
    assert error.__cause__ is None and not error.__suppress_context__

    class Late(Exception):
        pass

    with module_global("TimeoutError", Late):  # looked up as a module global
        raises_at(Late, case.call, ("token_decrypt", 249))


def test_token_without_data_gives_none():
    assert m.token_decrypt(jwt.encode({"iss": "Tarvex", "exp": 2**40}, KEY, algorithm="HS256"), KEY) is None


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


def test_failing_get_is_reported_from_line_247():
    with module_global("jwt", stand_in_jwt(lambda *args, **kwargs: ["no", "get"])):
        cause = plain_exception(raises_at(Exception, lambda: m.token_decrypt("t", KEY), ("token_decrypt", 251)))
    assert type(cause) is AttributeError
    assert crypt_entries(cause) == [("crypt_main._Crypt.token_decrypt", 247)]


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3)])
def test_base_exceptions_pass_through_unchanged(exc):
    with module_global("jwt", stand_in_jwt(raiser(exc))):
        error = raises_at(type(exc), lambda: m.token_decrypt("t", KEY), ("token_decrypt", 246))
    assert error is exc and error.__context__ is None


def test_failure_while_handling_replaces_the_caught_exception():
    with module_global("jwt", stand_in_jwt(raiser(ValueError("bad")), exceptions=DELETE)):
        error = raises_at(AttributeError, lambda: m.token_decrypt("t", KEY), ("token_decrypt", 248), match="exceptions")
    assert type(error.__context__) is ValueError and error.__context__.args == ("bad",)
    assert crypt_entries(error.__context__) == [("crypt_main._Crypt.token_decrypt", 246)]


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
    [lambda *args, **kwargs: {"data": 1}, raiser(ValueError("bad")), raiser(KeyboardInterrupt())],
    ids=["success", "failure", "interrupt"],
)
def test_caught_exception_is_handled_only_while_handling(decode):
    recorder, outer, raised = Recorder(), LookupError("outer"), None
    with module_global("jwt", stand_in_jwt(decode, exceptions=recorder)):
        try:
            raise outer
        except LookupError:
            try:
                m.token_decrypt("t", KEY)
            except BaseException as error:
                raised = error
            assert sys.exception() is outer
    assert sys.exception() is None
    if raised is None:
        assert recorder.seen == []
    else:
        caught = raised if isinstance(raised, KeyboardInterrupt) else raised.__context__
        assert recorder.seen == [caught] and caught.__context__ is outer
