"""Module start-up: namespace, re-import, import failures, interpreters."""

import base64
import binascii
import hashlib
import hmac
import importlib
import os
import statistics
import subprocess
import sys
import textwrap
import time

import jwt
import pytest
import rsa
from Crypto.Cipher import AES, DES
from Crypto.Util.Padding import pad, unpad

import crypt_main
import misbehaving
from conftest import FIGURES, SANITIZED, blocks_growth


def test_module_globals():
    expected = {"base64": base64, "hashlib": hashlib, "hmac": hmac, "time": time,
                "a2b_hex": binascii.a2b_hex, "b2a_hex": binascii.b2a_hex, "jwt": jwt, "rsa": rsa,
                "AES": AES, "DES": DES, "pad": pad, "unpad": unpad}
    for name, value in expected.items():
        assert getattr(crypt_main, name) is value, name
    assert crypt_main.__all__ == ["m_crypt"]
    assert crypt_main.__test__ == {}
    assert type(crypt_main.m_crypt) is crypt_main._Crypt


def test_namespace_order():
    names = [n for n in vars(crypt_main) if not n.startswith("__") or n in ("__all__", "__test__")]
    assert names == ["__all__", "base64", "hashlib", "hmac", "time", "a2b_hex", "b2a_hex", "jwt", "rsa",
                     "AES", "DES", "pad", "unpad", "_Crypt", "m_crypt", "__test__"]


def test_star_import_binds_only_m_crypt():
    namespace = {}
    exec("from crypt_main import *", namespace)
    assert set(namespace) - {"__builtins__"} == {"m_crypt"}


def test_spec_attributes_are_copied():
    assert crypt_main.__file__ == crypt_main.__spec__.origin
    assert crypt_main.__loader__ is crypt_main.__spec__.loader
    assert crypt_main.__package__ == ""
    assert not hasattr(crypt_main, "__path__")
    assert crypt_main.__doc__


def test_reimport_gives_the_same_module():
    m_crypt = crypt_main.m_crypt
    del sys.modules["crypt_main"]
    try:
        again = importlib.import_module("crypt_main")
    finally:
        sys.modules["crypt_main"] = crypt_main
    assert again is crypt_main and again.m_crypt is m_crypt
    assert importlib.reload(crypt_main) is crypt_main and crypt_main.m_crypt is m_crypt


def test_reimport_keeps_no_memory():
    # Each import after the first hands back the same module, whose state block the
    # interpreter then replaces: the old one must not stay behind. What is kept per
    # re-import grows every batch by as much again; the caches of the import system
    # (and of pytest) fill once, in one batch or two, by up to a few hundred blocks.
    # So the median batch is measured against the number of re-imports in it.
    def reimport():
        del sys.modules["crypt_main"]
        try:
            importlib.import_module("crypt_main")
        finally:
            sys.modules["crypt_main"] = crypt_main

    batch = 250
    growth = [blocks_growth(reimport, batch, warmup=200 if i == 0 else 0) for i in range(8)]
    FIGURES[f"re-import: blocks grown per batch of {batch}, median"] = statistics.median(growth)
    FIGURES[f"re-import: blocks grown per batch of {batch}, largest"] = max(growth)
    assert statistics.median(growth) < batch / 2, growth  # one block kept per re-import: >= batch


def run_python(code, env=None):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                            timeout=120, env=env)
    assert result.returncode == 0, result.stderr
    return result.stdout


BLOCKED_IMPORT = """
    import sys, traceback
    {block}
    try:
        import crypt_main
    except BaseException as e:
        entries = [(f.filename, f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__)]
        print(type(e).__name__, "|", e, "|", entries[-1] if entries else None,
              "|", [x for x in entries if x[0] == "crypt_main.py"])
    print("crypt_main" in sys.modules)
    {unblock}
    import crypt_main
    print(crypt_main.m_crypt.md5("abc", "lower"))
"""


@pytest.mark.parametrize("module, line", [("base64", 12), ("hashlib", 13), ("hmac", 14), ("time", 17),
                                          ("jwt", 22), ("rsa", 24), ("Crypto", 25)])
def test_missing_package_fails_the_import_at_its_line(module, line):
    out = run_python(BLOCKED_IMPORT.format(block=f"sys.modules[{module!r}] = None",
                                           unblock=f"del sys.modules[{module!r}]")).splitlines()
    name, _, _, ours = out[0].split(" | ")
    assert name == "ModuleNotFoundError"
    assert eval(ours) == [("crypt_main.py", "init crypt_main", line)]
    assert out[1] == "False"  # nothing half-built is left behind
    assert out[2] == "900150983cd24fb0d6963f7d28e17f72"  # a later import starts afresh


def test_missing_name_fails_with_cannot_import():
    out = run_python(BLOCKED_IMPORT.format(
        block="import Crypto.Util.Padding as p; saved = p.unpad; del p.unpad",
        unblock="p.unpad = saved")).splitlines()
    name, message, _, ours = out[0].split(" | ")
    assert (name, message) == ("ImportError", "cannot import name unpad")
    assert eval(ours) == [("crypt_main.py", "init crypt_main", 28)]
    assert out[1:] == ["False", "900150983cd24fb0d6963f7d28e17f72"]


def test_name_found_as_a_loaded_submodule():
    # "from X import Y" falls back to sys.modules["X.Y"] when X has no attribute Y
    out = run_python("""
        import sys, Crypto.Cipher.DES
        saved = sys.modules["Crypto.Cipher.DES"]
        del Crypto.Cipher.DES
        import crypt_main
        print(crypt_main.DES is saved)
    """)
    assert out.split() == ["True"]


@pytest.mark.parametrize("broken, entries", [
    # a failing staticmethod fails the first static method's creation
    ("lambda f: 1 / 0", [("init crypt_main", 60)]),
    # the same line twice, the method's own (its call does not bind) inside the start-up's
    ("lambda f: f()", [("init crypt_main", 60), ("crypt_main._Crypt.aes_ecb", 60)]),
    # a staticmethod whose result fails when the class is made (type() calls __set_name__)
    ("lambda f: type('SetNameFails', (), {'__set_name__': lambda self, owner, name: 1 / 0})()",
     [("init crypt_main", 31)]),
], ids=["method", "method-called", "class"])
def test_failing_class_creation_reports_its_line(broken, entries):
    out = run_python(f"""
        import builtins, traceback
        import jwt, rsa, Crypto.Cipher.AES, Crypto.Cipher.DES, Crypto.Util.Padding
        real = builtins.staticmethod
        builtins.staticmethod = {broken}
        try:
            import crypt_main
        except Exception as e:
            print([(f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__) if f.filename == "crypt_main.py"])
        finally:
            builtins.staticmethod = real
    """)
    assert eval(out) == entries


def test_nothing_of_a_failed_start_up_stays_alive():
    # Each failure's entry has the globals of the execution that failed; once the failure
    # is dropped, nothing holds the half-built module, nor what was bound in it.
    out = run_python("""
        import gc, sys, traceback, types, weakref
        import base64, binascii, hashlib, time, jwt, rsa
        real_hmac = sys.modules["hmac"]
        sys.modules["Crypto"] = None  # the import fails at line 25
        dropped = []
        for attempt in range(2):
            stand_in = sys.modules["hmac"] = types.ModuleType("hmac")
            try:
                import crypt_main
            except ImportError as e:
                frame, line = [(f, n) for f, n in traceback.walk_tb(e.__traceback__)
                               if f.f_code.co_filename == "crypt_main.py"][0]
                print(line, frame.f_globals["hmac"] is stand_in)
                del e, frame
            dropped.append(weakref.ref(stand_in))
            del stand_in
        sys.modules["hmac"] = real_hmac
        del sys.modules["Crypto"]
        gc.collect()
        print([ref() for ref in dropped])
        import crypt_main
        print(crypt_main.m_crypt.md5("abc", "lower"))
    """).splitlines()
    assert out == ["25 True", "25 True", "[None, None]", "900150983cd24fb0d6963f7d28e17f72"]


# The start of a child whose start-up of the module fails at line 60: staticmethod keeps
# the method it is given (in `kept`) and raises. The packages are loaded first: their
# own code needs the real staticmethod.
FAILING_START_UP = textwrap.dedent("""
    import builtins
    import jwt, rsa, Crypto.Cipher.AES, Crypto.Cipher.DES, Crypto.Util.Padding
    real, kept = builtins.staticmethod, []
    def keep(f):
        kept.append(f)
        raise RuntimeError
    def fail_start_up():
        builtins.staticmethod = keep
        try:
            import crypt_main
        except RuntimeError:
            pass
        finally:
            builtins.staticmethod = real
""")


def test_a_method_that_outlived_a_failed_start_up_uses_its_own_globals():
    out = run_python(FAILING_START_UP + textwrap.dedent("""
        import traceback
        fail_start_up()
        aes_ecb = kept[0]
        ciphertext = aes_ecb("x", "0123456789abcdef")  # its module is gone: its globals are not
        import crypt_main
        crypt_main.AES = None  # the new module's global, not the old method's
        print(aes_ecb.__globals__ is not crypt_main.__dict__, aes_ecb("x", "0123456789abcdef") == ciphertext)
        aes_ecb.__globals__[1] = "a key that is not text: every name is looked up afresh"
        print(aes_ecb("x", "0123456789abcdef") == ciphertext)
        crypt_main.AES = aes_ecb.__globals__["AES"]
        for method in aes_ecb, crypt_main.m_crypt.aes_ecb:  # each failure's entry has its own globals
            try:
                method(1, "0123456789abcdef")
            except AttributeError as e:
                frame, line = list(traceback.walk_tb(e.__traceback__))[-1]
                print(frame.f_code.co_name, line, frame.f_globals is method.__globals__)
    """)).splitlines()
    assert out == ["True True", "True", "crypt_main._Crypt.aes_ecb 63 True", "crypt_main._Crypt.aes_ecb 63 True"]


def test_failed_start_ups_keep_no_memory():
    # A start-up made to fail (staticmethod keeps the method and raises), then the method
    # it left failing and its entry's frame read, again and again: nothing of it stays.
    # The interpreter's own tables (sys.modules, the import of an extension) grow over
    # the first few hundred attempts, the warm-up; what is kept per attempt grows every
    # batch by as much again, so the median batch is measured against its attempts.
    out = run_python(FAILING_START_UP + textwrap.dedent("""
        import gc, statistics, sys, traceback
        def attempt():
            kept.clear()
            fail_start_up()
            try:
                kept[0]("x", "a short key")
            except ValueError as e:
                frame = [f for f, _ in traceback.walk_tb(e.__traceback__) if f.f_code.co_filename == "crypt_main.py"][0]
                frame.f_code.co_name, frame.f_globals
        def collect():
            # Without the GIL, memory that a collection frees may be queued to be freed
            # safely later (the module's dictionary's table): the next collection frees it.
            gc.collect()
            gc.collect()
        def growth(attempts):
            collect()
            before = sys.getallocatedblocks()
            for _ in range(attempts):
                attempt()
            collect()
            return sys.getallocatedblocks() - before
        growth(500)
        print(statistics.median(growth(250) for _ in range(5)))
    """))
    FIGURES["failed start-up: blocks grown per batch of 250, median"] = float(out)
    assert float(out) < 250 / 2  # one block kept per attempt: >= 250


def test_a_start_up_inside_a_call_under_another_thread_state_checks_its_own():
    # A method that outlived a failed start-up is inside a call, its results checked,
    # when its callee starts the module again under a second thread state, where
    # staticmethod gives a result with an exception set.
    misbehaving.load()  # built here first: where no compiler can, this test skips
    out = run_python(FAILING_START_UP + textwrap.dedent(f"""
        import sys, traceback
        sys.path.insert(0, {os.path.dirname(__file__)!r})
        import misbehaving
        helpers = misbehaving.load()
        fail_start_up()
        class StartsAgain(str):
            def encode(self, *args, **kwargs):
                builtins.staticmethod = helpers.update
                try:
                    helpers.call_under_new_thread_state(__import__, "crypt_main")
                except Exception as e:
                    ours = [(f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__)
                            if f.filename == "crypt_main.py"]
                    print(type(e).__name__, "|", e, "|", ours)
                builtins.staticmethod = real
                return str.encode(self, *args, **kwargs)
        kept[0](StartsAgain("x"), "0123456789abcdef")
        print(helpers.update)
    """)).splitlines()
    callee = out[1]  # as the child shows it
    assert out[0] == f"SystemError | {callee} returned a result with an exception set | [('init crypt_main', 60)]"


# A first import that fails (jwt blocked, line 22), then a change to builtins.staticmethod,
# then a second import: the second execution looks staticmethod up again. Packages that
# should load meanwhile are loaded first: their own code needs the real staticmethod.
STATICMETHOD_CHANGED = """
    import builtins, sys, traceback
    {preload}
    loaded = sys.modules.get("jwt")
    sys.modules["jwt"] = None
    try:
        import crypt_main
    except ImportError:
        pass
    if loaded is None:
        del sys.modules["jwt"]
    else:
        sys.modules["jwt"] = loaded
    real = builtins.staticmethod
    wrapped = []
    {change}
    try:
        import crypt_main
        print("imported", wrapped, type(vars(crypt_main._Crypt)["md5"]).__name__)
    except BaseException as e:
        print(type(e).__name__, "|", e, "|",
              [(f.name, f.lineno) for f in traceback.extract_tb(e.__traceback__) if f.filename == "crypt_main.py"])
    print("jwt" in sys.modules, "crypt_main" in sys.modules)
    builtins.staticmethod = real
    import crypt_main
    print(crypt_main.m_crypt.md5("abc", "lower"))
"""
STATIC_METHODS = ["aes_ecb", "aes_ecb_decrypt", "aes_cbc", "aes_cbc_decrypt", "base64", "base64_decrypt", "des",
                  "des_decrypt", "md5", "md5_hmac", "_add_to_16", "rsa_keys", "rsa", "rsa_decrypt", "sha1", "sha256",
                  "sha384", "sha512", "token", "token_decrypt"]


@pytest.mark.parametrize("preload, change, first, in_modules", [
    # the import fails before the body imports anything: jwt stays unloaded
    ("", "del builtins.staticmethod",
     "NameError | name 'staticmethod' is not defined | [('init crypt_main', 1)]", "False False"),
    ("import jwt, rsa, Crypto.Cipher.AES, Crypto.Cipher.DES, Crypto.Util.Padding",
     "builtins.staticmethod = lambda f: wrapped.append(f.__name__) or real(f)",
     f"imported {STATIC_METHODS} staticmethod", "True True"),
], ids=["deleted", "replaced"])
def test_staticmethod_is_looked_up_at_each_execution(preload, change, first, in_modules):
    out = run_python(STATICMETHOD_CHANGED.format(preload=preload, change=change)).splitlines()
    assert out == [first, in_modules, "900150983cd24fb0d6963f7d28e17f72"]


# Under the sanitizers: CPython 3.13 leaves the strings that a second interpreter interned
# (names from the code it loaded) where nothing points to them, so this process is not
# checked for leaks.
NO_LEAK_CHECK = dict(os.environ, ASAN_OPTIONS="detect_leaks=0") if SANITIZED else None


def test_second_interpreter_sharing_the_gil_is_refused():
    out = run_python("""
        import sys, crypt_main
        try:
            import _interpreters
        except ImportError:  # before 3.13; 3.11 has only interpreters that share the GIL
            import _xxsubinterpreters as _interpreters
        def import_in(config):
            if hasattr(_interpreters, "RunFailedError"):
                isolated = {"isolated": config != "legacy"} if sys.version_info >= (3, 12) else {}
                try:
                    _interpreters.run_string(_interpreters.create(**isolated), "import crypt_main")
                except _interpreters.RunFailedError as e:  # "<class 'ImportError'>: message"
                    kind, message = str(e).split(": ", 1)
                    return f"{kind[8:-2]} | {message}"
            error = _interpreters.run_string(_interpreters.create(config), "import crypt_main")
            return f"{error.type.__name__} | {error.msg}"
        print(import_in("legacy"))
        print(import_in("isolated"))
        print(crypt_main.m_crypt.md5("abc", "lower"))
    """, env=NO_LEAK_CHECK).splitlines()
    assert out[0] == ("ImportError | Interpreter change detected - this module can only be loaded into one "
                      "interpreter per process.")
    # an isolated interpreter (3.12 on) refuses the module before it runs; 3.11 has none
    assert out[1] == ("ImportError | module crypt_main does not support loading in subinterpreters"
                      if sys.version_info >= (3, 12) else out[0])
    assert out[2] == "900150983cd24fb0d6963f7d28e17f72"


# The "from X import Y" statements, each made to fail alone: the name is taken away from
# the module it comes from (by a stand-in module without it; "from X import Y" also looks
# for a loaded X.Y, so that entry is hidden as well).
STAND_IN = """
    import importlib, types
    real = importlib.import_module({module!r})
    stand_in = types.ModuleType({module!r})
    stand_in.__dict__.update((k, v) for k, v in vars(real).items() if k not in ({name!r}, "__path__", "__spec__"))
    hidden = sys.modules.pop({module!r} + "." + {name!r}, None)
    sys.modules[{module!r}] = stand_in
"""
RESTORE = """
    sys.modules[{module!r}] = real
    if hidden is not None:
        sys.modules[{module!r} + "." + {name!r}] = hidden
"""


@pytest.mark.parametrize("module, name, line", [
    ("binascii", "a2b_hex", 18), ("binascii", "b2a_hex", 19), ("Crypto.Cipher", "AES", 25),
    ("Crypto.Cipher", "DES", 26), ("Crypto.Util.Padding", "pad", 27)])
def test_each_missing_name_fails_at_its_line(module, name, line):
    # what the stand-in keeps is loaded first (base64 imports binascii for itself)
    block = "import base64, Crypto.Cipher.AES, Crypto.Cipher.DES\n" + textwrap.dedent(STAND_IN).format(module=module, name=name)
    code = BLOCKED_IMPORT.format(block="{block}", unblock="{unblock}")
    code = textwrap.dedent(code).format(block=block, unblock=textwrap.dedent(RESTORE).format(module=module, name=name))
    out = run_python(code).splitlines()
    error, message, _, ours = out[0].split(" | ")
    assert (error, message) == ("ImportError", f"cannot import name {name}")
    assert eval(ours) == [("crypt_main.py", "init crypt_main", line)]
    assert out[1:] == ["False", "900150983cd24fb0d6963f7d28e17f72"]
