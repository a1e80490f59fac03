"""The C objects of tests/misbehaving.c, compiled for the running interpreter on first
use (into build/, keyed by the source and the interpreter), or a skip where there is no
C compiler."""

import hashlib
import importlib.util
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "misbehaving.c")


def load():
    compiler = shlex.split(os.environ.get("CC") or sysconfig.get_config_var("CC") or "cc")
    if shutil.which(compiler[0]) is None:
        pytest.skip(f"no C compiler ({compiler[0]}) to build tests/misbehaving.c")
    with open(SOURCE, "rb") as f:
        key = hashlib.sha256(f.read() + sys.version.encode() + sys.executable.encode()).hexdigest()[:16]
    folder = os.path.join(os.path.dirname(HERE), "build", "misbehaving", key)
    target = os.path.join(folder, "misbehaving" + sysconfig.get_config_var("EXT_SUFFIX"))
    if not os.path.exists(target):
        os.makedirs(folder, exist_ok=True)
        built = target + f".{os.getpid()}"
        subprocess.run([*compiler, "-shared", "-fPIC", "-O1", "-I", sysconfig.get_paths()["include"], SOURCE,
                        "-o", built], check=True)
        os.replace(built, target)
    spec = importlib.util.spec_from_file_location("misbehaving", target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
