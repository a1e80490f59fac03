"""Paths that ordinary calls never take: token_decrypt's handler given odd classes to
catch and odd things to raise, a callee that fails without an exception in a slot that
the interpreter does not check, the module's start-up given a sparse spec or run on a
second module object, and the remembered look-ups without a dictionary watcher or after
a namespace was refilled from a copy."""

import ctypes
import subprocess
import sys
import textwrap
import types

import jwt
import pytest

import crypt_main
from conftest import crypt_entries, m, module_global, raises_at

KEY = "a key of thirty-two characters.."
EXPIRED = jwt.encode({"data": 1, "iss": "Tarvex", "exp": 2}, KEY, algorithm="HS256")
VALID = jwt.encode({"data": 7, "iss": "Tarvex"}, KEY, algorithm="HS256")


def jwt_whose_expiry_class_is(cls):
    exceptions = types.SimpleNamespace(ExpiredSignatureError=cls)
    return types.SimpleNamespace(decode=jwt.decode, exceptions=exceptions)


# ---- token_decrypt's handler: what `except` and `raise` do with odd objects ----------

@pytest.mark.parametrize("cls", [(KeyError, jwt.exceptions.ExpiredSignatureError), (jwt.exceptions.PyJWTError,)])
def test_a_tuple_of_classes_is_caught_as_except_does(cls):
    with module_global("jwt", jwt_whose_expiry_class_is(cls)):
        error = raises_at(TimeoutError, lambda: m.token_decrypt(EXPIRED, KEY), ("token_decrypt", 249))
    assert error.args == ("token已过期",)
    assert type(error.__context__) is jwt.exceptions.ExpiredSignatureError


@pytest.mark.parametrize("cls", [5, "ExpiredSignatureError", (KeyError, 5), int])
def test_catching_what_is_no_exception_class_is_a_type_error(cls):
    with module_global("jwt", jwt_whose_expiry_class_is(cls)):
        error = raises_at(TypeError, lambda: m.token_decrypt(EXPIRED, KEY), ("token_decrypt", 248))
    assert str(error) == "catching classes that do not inherit from BaseException is not allowed"
    assert type(error.__context__) is jwt.exceptions.ExpiredSignatureError


class NotAnError(Exception):
    """Calling the class gives no exception at all."""

    def __new__(cls, *args):
        return 5


@pytest.mark.parametrize("timeout_error, raised, message", [
    (lambda text: KeyError, KeyError, None),  # a class: raised as an instance made without arguments
    (lambda text: 5, TypeError, "exceptions must derive from BaseException"),
    (lambda text: NotAnError, TypeError,
     f"calling {NotAnError!r} should have returned an instance of BaseException, not {int!r}"),
])
def test_raise_does_what_the_raise_statement_does_with_what_it_is_given(timeout_error, raised, message):
    with module_global("TimeoutError", timeout_error):
        error = raises_at(raised, lambda: m.token_decrypt(EXPIRED, KEY), ("token_decrypt", 249))
    if message is not None:
        assert str(error) == message
    else:
        assert error.args == ()
    assert type(error.__context__) is jwt.exceptions.ExpiredSignatureError


# ---- a callee that fails without setting an exception ------------------------------

class PyTypeSlot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]


class PyTypeSpec(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int), ("itemsize", ctypes.c_int),
                ("flags", ctypes.c_uint), ("slots", ctypes.POINTER(PyTypeSlot))]


PY_NB_BOOL = 9  # Include/typeslots.h
# nb_bool answering -1 with no exception set: the interpreter's truth test passes that on
# unchecked, as it does for any extension type that breaks the protocol.
BROKEN_BOOL = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.py_object)(lambda self: -1)
_SLOTS = (PyTypeSlot * 2)(PyTypeSlot(PY_NB_BOOL, ctypes.cast(BROKEN_BOOL, ctypes.c_void_p)), PyTypeSlot(0, None))
_SPEC = PyTypeSpec(b"test_rare_paths.BrokenBool", 0, 0, 0, _SLOTS)
_from_spec = ctypes.pythonapi.PyType_FromSpec
_from_spec.argtypes = [ctypes.POINTER(PyTypeSpec)]
_from_spec.restype = ctypes.py_object
BrokenBool = _from_spec(ctypes.byref(_SPEC))


@pytest.mark.parametrize("method, call, line", [
    ("php", lambda flag: m.php("text", "key", "fedcba9876543210", flag), 138),
    ("rsa_decrypt", lambda flag: m.rsa_decrypt(b"x", None, flag), 179),
])
def test_a_failure_without_an_exception_in_a_body_step_becomes_system_error(method, call, line):
    error = raises_at(SystemError, lambda: call(BrokenBool()), (method, line))
    assert str(error) == f"crypt_main._Crypt.{method} failed without setting an exception"
    assert m.php("text", "key", "fedcba9876543210", True)  # nothing is left behind


# ---- start-up ----------------------------------------------------------------------

def run_python(code):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def test_a_spec_without_the_optional_attributes_is_copied_as_far_as_it_goes():
    out = run_python("""
        import _imp, gc, importlib.util, types
        origin = importlib.util.find_spec("crypt_main").origin

        class Failing:
            name, origin = "crypt_main", origin
            parent = property(lambda self: 1 / 0)

        class Sparse:  # no loader, parent or submodule_search_locations
            name, origin = "crypt_main", origin

        for attempt in range(3):
            try:
                _imp.create_dynamic(Failing())
            except ZeroDivisionError as e:
                error = type(e).__name__
        gc.collect()  # the modules that the failures made are gone
        print("failing spec:", error, [m for m in gc.get_objects() if isinstance(m, types.ModuleType)
                                       and m.__name__ == "crypt_main"])
        module = _imp.create_dynamic(Sparse())
        print(module.__file__ == origin, module.__loader__, module.__package__, hasattr(module, "__path__"))
        _imp.exec_dynamic(module)
        print(module.m_crypt.md5("abc", "lower"))
    """)
    assert out == ["failing spec: ZeroDivisionError []", "True None None False", "900150983cd24fb0d6963f7d28e17f72"]


def test_execution_on_a_second_module_object_is_refused():
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.argtypes, get_def.restype = [ctypes.py_object], ctypes.c_void_p
    exec_def = ctypes.pythonapi.PyModule_ExecDef
    exec_def.argtypes, exec_def.restype = [ctypes.py_object, ctypes.c_void_p], ctypes.c_int
    other = types.ModuleType("crypt_main")
    with pytest.raises(RuntimeError) as info:
        exec_def(other, get_def(crypt_main))
    assert str(info.value) == "Module 'crypt_main' has already been imported. Re-initialisation is not supported."
    assert crypt_entries(info.value) == [] and vars(other).keys() == {"__name__", "__doc__", "__package__",
                                                                      "__loader__", "__spec__"}
    assert exec_def(crypt_main, get_def(crypt_main)) == 0  # its own module: nothing to do
    assert m.md5("abc", "lower") == "900150983cd24fb0d6963f7d28e17f72"


# ---- remembered look-ups -----------------------------------------------------------

def test_without_a_dictionary_watcher_globals_are_looked_up_every_time():
    out = run_python("""
        import _testcapi
        taken = []
        while hasattr(_testcapi, "add_dict_watcher"):  # every watcher left (3.11 has none at all)
            try:
                taken.append(_testcapi.add_dict_watcher(0))
            except RuntimeError:
                break
        import crypt_main
        m = crypt_main.m_crypt
        print(m.md5("abc", "lower"), m.md5("abc", "upper"))
        real = crypt_main.hashlib
        crypt_main.hashlib = None
        try:
            m.md5("abc", "lower")
        except AttributeError as e:
            print("AttributeError")
        del crypt_main.hashlib
        try:
            m.md5("abc", "lower")
        except NameError as e:
            print(e)
        crypt_main.hashlib = real
        print(m.sha1("abc", "lower"))
    """)
    assert out == ["900150983cd24fb0d6963f7d28e17f72 900150983CD24FB0D6963F7D28E17F72", "AttributeError",
                   "name 'hashlib' is not defined", "a9993e364706816aba3e25717850c26c9cd0d89d"]


class StandInAes:
    """AES whose new() says who it is."""

    MODE_ECB = 1
    block_size = 16

    @staticmethod
    def new(key, mode):
        raise LookupError("the stand-in")


def test_a_namespace_emptied_and_refilled_from_a_copy_is_read_afresh():
    namespace = crypt_main.__dict__
    saved = dict(namespace)
    for _ in range(100):  # remembered by now
        m.aes_ecb("text", "0123456789abcdef")
    refill = dict(saved, AES=StandInAes)
    refill[1] = "a key that is not text"
    try:
        namespace.clear()
        namespace.update(refill)  # the dictionary's clone of a fresh copy
        for _ in range(3):
            with pytest.raises(LookupError, match="the stand-in"):
                m.aes_ecb("text", "0123456789abcdef")
        namespace.clear()
        namespace.update(dict(saved))
        assert m.aes_ecb_decrypt(m.aes_ecb("text", "0123456789abcdef"), "0123456789abcdef") == "text"
    finally:
        namespace.clear()
        namespace.update(saved)
