"""Memory that failed start-ups leave: crypt_main's, a pure-Python module's, and a minimal
extension module's (bench/failing_exec.c), each failing at the same step.

    python bench/startup_memory.py crypt_main|pure|minimal [--batches 5] [--attempts 150] [--warm-up 0]

An attempt: builtins.staticmethod replaced by a function that keeps the method it is
given and raises, the module imported (its start-up fails at the first static method),
the kept method called with a key of the wrong length (ValueError), and its traceback
entry's frame read (f_code.co_name, f_globals). The pure-Python module is
bench/pure_crypt.py; the minimal module is compiled for the running interpreter on first
use, into bench/.build. tracemalloc traces from before the first attempt; each batch is
measured between two collections, and the figure is the median over the batches of the
bytes still traced per attempt. Without a warm-up the early batches also carry what the
interpreter's own tables gain in the first few hundred attempts (once): that figure says
what a batch of the first ones costs, one after a warm-up what each attempt keeps.
"""

import argparse
import builtins
import gc
import hashlib
import importlib.util
import os
import shlex
import statistics
import subprocess
import sys
import sysconfig
import traceback
import tracemalloc

import Crypto.Cipher.AES  # noqa: F401  (loaded before staticmethod is replaced)
import Crypto.Cipher.DES  # noqa: F401
import Crypto.Util.Padding  # noqa: F401
import jwt  # noqa: F401
import rsa  # noqa: F401

HERE = os.path.dirname(os.path.abspath(__file__))


def minimal_module_folder():
    """The folder of the minimal module built for this interpreter (built when missing)."""
    source = os.path.join(HERE, "failing_exec.c")
    with open(source, "rb") as f:
        key = hashlib.sha256(f.read() + sys.version.encode() + sys.executable.encode()).hexdigest()[:16]
    folder = os.path.join(HERE, ".build", "failing_exec", key)
    target = os.path.join(folder, "failing_exec" + sysconfig.get_config_var("EXT_SUFFIX"))
    if not os.path.exists(target):
        os.makedirs(folder, exist_ok=True)
        compiler = shlex.split(os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc")
        subprocess.run([*compiler, "-shared", "-fPIC", "-O2", "-I", sysconfig.get_paths()["include"], source,
                        "-o", target], check=True)
    return folder


# module -> (its name for import, the folder it is imported from, the file of its entries)
MODULES = {
    "crypt_main": lambda: ("crypt_main", None, "crypt_main.py"),
    "pure": lambda: ("pure_crypt", HERE, os.path.join(HERE, "pure_crypt.py")),
    "minimal": lambda: ("failing_exec", minimal_module_folder(), "failing_exec.py"),
}


def attempt(name, filename):
    kept = []

    def keep(method):
        kept.append(method)
        raise RuntimeError("start-up made to fail")

    real = builtins.staticmethod
    builtins.staticmethod = keep
    try:
        __import__(name)
    except RuntimeError:
        pass
    finally:
        builtins.staticmethod = real
    assert name not in sys.modules
    try:
        kept[0]("x", "a short key")
    except ValueError as e:
        frame = next(f for f, _ in traceback.walk_tb(e.__traceback__) if f.f_code.co_filename == filename)
        frame.f_code.co_name, frame.f_globals
    else:
        raise AssertionError("the kept method did not fail")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("module", choices=MODULES)
    parser.add_argument("--batches", type=int, default=5)
    parser.add_argument("--attempts", type=int, default=150, help="attempts per batch")
    parser.add_argument("--warm-up", type=int, default=0, help="attempts before the first batch")
    options = parser.parse_args()
    name, folder, filename = MODULES[options.module]()
    if folder is not None:
        sys.path.insert(0, folder)

    tracemalloc.start()
    for _ in range(options.warm_up):
        attempt(name, filename)
    figures = []
    for _ in range(options.batches):
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(options.attempts):
            attempt(name, filename)
        gc.collect()
        figures.append((tracemalloc.get_traced_memory()[0] - before) / options.attempts)
    print(f"{sys.version.split()[0]} {options.module}: {statistics.median(figures):.1f} B per attempt"
          f" (batches: {', '.join(f'{f:.1f}' for f in figures)})")


if __name__ == "__main__":
    main()
