"""How a failure leaves a method: nothing after the failing step runs, loops end, and a
callee that breaks the calling protocol becomes SystemError instead of a crash."""

import contextlib
import hmac
import types

import pytest

import misbehaving
from conftest import module_global, raises_at
from crypt_main import m_crypt

testcapi = pytest.importorskip("_testcapi")


def recorder(log, name, **attributes):
    """Stands in for a module global: records each attribute read, and each call of an
    attribute that is a function, in the shared log. The attributes are properties, which
    run on every read, also one made while an exception is pending (a __getattr__ would
    not see such a read)."""
    def recorded(attribute, value):
        def read(self):
            log.append(f"{name}.{attribute}")
            if not callable(value):
                return value

            def call(*args, **kwargs):
                log.append(f"{name}.{attribute}()")
                return value(*args, **kwargs)
            return call
        return property(read)

    return type(name, (), {attribute: recorded(attribute, value) for attribute, value in attributes.items()})()


class Encodes:
    """A text stand-in whose encode is logged; `fails` makes it raise."""

    def __init__(self, log, name, fails=False):
        self.log, self.name, self.fails = log, name, fails

    def encode(self, *args, **kwargs):
        self.log.append(f"{self.name}.encode()")
        if self.fails:
            raise LookupError(self.name)
        return b"0123456789abcdef"


class Compares:
    """An fmt whose comparisons are logged."""

    def __init__(self, log):
        self.log = log

    def __eq__(self, other):
        self.log.append(f"fmt == {other!r}")
        return False

    __hash__ = object.__hash__


class RaisingCompare(Compares):
    def __eq__(self, other):
        super().__eq__(other)
        raise ArithmeticError("no comparison")

    __hash__ = object.__hash__


def aes(log):
    return recorder(log, "AES", new=lambda *args: None, MODE_ECB=1, MODE_CBC=2, block_size=16)


# (method, arguments made from the log, globals made from the log, error, line, the log expected)
STOPS = [
    # the key fails: the mode is not read, the value is not touched
    ("aes_ecb", lambda log: (Encodes(log, "value"), Encodes(log, "key", fails=True)),
     {"AES": aes}, LookupError, 62, ["AES.new", "key.encode()"]),
    # the key fails: the mode is not read, the IV and the value are not touched
    ("aes_cbc", lambda log: (Encodes(log, "value"), Encodes(log, "key", fails=True), Encodes(log, "iv")),
     {"AES": aes}, LookupError, 75, ["AES.new", "key.encode()"]),
    # the IV fails after the mode was read: AES.new is not called
    ("aes_cbc", lambda log: (Encodes(log, "value"), Encodes(log, "key"), Encodes(log, "iv", fails=True)),
     {"AES": aes}, LookupError, 75, ["AES.new", "key.encode()", "AES.MODE_CBC", "iv.encode()"]),
    # the value fails: pad is looked up before it, the block size is not read
    ("des", lambda log: (Encodes(log, "value", fails=True), Encodes(log, "key")),
     {"DES": lambda log: recorder(log, "DES", new=lambda *a: types.SimpleNamespace(encrypt=bytes), MODE_ECB=1,
                                  block_size=8),
      "pad": lambda log: recorder(log, "pad")},
     LookupError, 99, ["DES.new", "key.encode()", "DES.MODE_ECB", "DES.new()", "value.encode()"]),
    # md5 fails at the update: fmt is never compared
    ("md5", lambda log: (Encodes(log, "value", fails=True), Compares(log)), {}, LookupError, 115,
     ["value.encode()"]),
    # the first comparison of fmt fails: the second is not made
    ("sha1", lambda log: ("text", RaisingCompare(log)), {}, ArithmeticError, 188,
     ["fmt == 'upper'"]),
]


@pytest.mark.parametrize("method, make_args, make_globals, error, line, expected", STOPS,
                         ids=[f"{s[0]}-{s[4]}-{i}" for i, s in enumerate(STOPS)])
def test_nothing_runs_after_a_failed_step(method, make_args, make_globals, error, line, expected):
    log = []
    args = make_args(log)
    with contextlib.ExitStack() as stack:
        for name, make in make_globals.items():
            stack.enter_context(module_global(name, make(log)))
        raises_at(error, lambda: getattr(m_crypt, method)(*args), (method, line))
    assert log == expected


class FillFails(bytes):
    """encode() result for _add_to_16 whose `+=` fails on the second pass."""

    passes = []

    def __iadd__(self, other):
        FillFails.passes.append(len(self))
        if len(FillFails.passes) > 1:
            raise ArithmeticError("no fill")
        return FillFails(bytes(self) + other)


class EncodesToFill:
    def encode(self, encoding):
        return FillFails(b"abc")


def test_the_fill_loop_ends_when_a_pass_fails():
    FillFails.passes.clear()
    raises_at(ArithmeticError, lambda: m_crypt._add_to_16(EncodesToFill()), ("_add_to_16", 154))
    assert FillFails.passes == [3, 4]


def holding(name, function):
    """A module whose attribute `name` is `function`: module attributes are called directly."""
    module = types.ModuleType("holder")
    setattr(module, name, function)
    return module


def fake_hmac(digest):
    """hmac stand-in whose HMAC object is a module holding `digest` as a function."""
    return types.SimpleNamespace(new=lambda key, message, digestmod: holding("digest", digest))


# (method, its arguments, the module global given a callee that returns a result with an
# exception set, the line of that call)
BROKEN_RESULTS = [
    ("md5", ("abc", "lower"), {"hashlib": holding("md5", testcapi.return_result_with_error)}, 111),
    ("token", ("data", "key"), {"time": holding("time", testcapi.return_result_with_error)}, 237),
    ("rsa", (holding("encode", testcapi.return_result_with_error), "key"), {}, 173),
    ("md5_hmac", ("text", "key"), {"hmac": fake_hmac(testcapi.return_result_with_error)}, 132),  # the last step
]


@pytest.mark.parametrize("method, args, globals_, line", BROKEN_RESULTS, ids=[b[0] for b in BROKEN_RESULTS])
def test_a_result_with_an_exception_set_becomes_system_error_at_the_call(method, args, globals_, line):
    # As the interpreter's call path does: the callee is named, the exception it left
    # pending is the cause, and the body stops at that step.
    with contextlib.ExitStack() as stack:
        for name, value in globals_.items():
            stack.enter_context(module_global(name, value))
        error = raises_at(SystemError, lambda: getattr(m_crypt, method)(*args), (method, line))
    assert str(error) == f"{testcapi.return_result_with_error!r} returned a result with an exception set"
    assert isinstance(error.__cause__, ValueError)
    assert m_crypt.md5_hmac("text", "key") == hmac.new(b"key", b"text", "md5").digest()


def misbehaving_hashlib(update):
    """hashlib stand-in whose md5 objects have `update` as an attribute of their own."""
    return holding("md5", lambda: types.SimpleNamespace(update=update, hexdigest=lambda: "digest"))


# The other ways a body reaches a callee: a method found on the value's type, a callee
# held while the arguments are made, and the method's own last step (a rich comparison
# whose C slot leaves an exception set: nothing checks it before the method returns).
# (id, the call, module globals replaced, the callee named in the message, the line)
CALL_PATHS = [
    ("type-method", lambda c: m_crypt.md5(c.Value(), "lower"), lambda c: {}, lambda c: repr(c.Value.encode), 115),
    ("held-callee", lambda c: m_crypt.md5("abc", "lower"), lambda c: {"hashlib": misbehaving_hashlib(c.update)},
     lambda c: repr(c.update), 115),
    ("end-of-method", lambda c: m_crypt.md5("abc", c.BrokenCompare()), lambda c: {},
     lambda c: "crypt_main._Crypt.md5", 119),
]


@pytest.mark.parametrize("call, globals_, callee, line", [p[1:] for p in CALL_PATHS], ids=[p[0] for p in CALL_PATHS])
def test_a_result_with_an_exception_set_is_caught_on_every_call_path(call, globals_, callee, line):
    c = misbehaving.load()
    with contextlib.ExitStack() as stack:
        for name, value in globals_(c).items():
            stack.enter_context(module_global(name, value))
        error = raises_at(SystemError, lambda: call(c), ("md5", line))
    assert str(error) == f"{callee(c)} returned a result with an exception set"
    assert isinstance(error.__cause__, ValueError) and error.__cause__ is error.__context__


def test_a_failure_without_an_exception_becomes_system_error():
    with module_global("hmac", fake_hmac(testcapi.return_null_without_error)):
        error = raises_at(SystemError, lambda: m_crypt.md5_hmac("text", "key"), ("md5_hmac", 132))
    assert "return_null_without_error> returned NULL without setting an exception" in str(error)


def test_an_exception_caught_and_raised_again_keeps_one_entry_per_call():
    class Interrupt(BaseException):
        pass

    def decode(*args, **kwargs):
        raise Interrupt

    jwt = types.SimpleNamespace(decode=decode, exceptions=__import__("jwt").exceptions)
    with module_global("jwt", jwt):
        raises_at(Interrupt, lambda: m_crypt.token_decrypt("token", "key"), ("token_decrypt", 246))
