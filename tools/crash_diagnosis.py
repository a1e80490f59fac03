"""Where a crashed process crashed: its C stack, read from the sanitizer's report or by
running the command again under gdb; whether the innermost frame is the module's; and
the faults of CPython 3.13.0 itself under single failing allocations, recognised by their
stacks. The allocation-failure sweeps (tests/test_nomemory.py) accept a crash only when
it is shown here to be the interpreter's.

Run as a program, it diagnoses one command:
    python tools/crash_diagnosis.py [--cwd DIR] -- COMMAND [ARGUMENT...]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import textwrap

# CPython 3.13.0 crashes when the one failing allocation is the growth of a type's
# dictionary while the type is made: PyDict_SetDefault reports success although the entry
# was not added, and the next growth of that dictionary reads a missing key. type() alone
# shows it (CRASHING_TYPE, run without the module). The module's start-up makes two types
# (the method type and _Crypt): a start-up crash is the interpreter's only where this
# interpreter is shown to have the fault and only with exactly that stack, a segmentation
# fault in dictresize while type_ready fills the new type's dictionary.
CRASHING_TYPE = textwrap.dedent("""
    import _testcapi
    for size in range(25):
        for k in range(400):
            _testcapi.set_nomemory(k, k + 1)
            try:
                type("T", (), {f"a{i}": i for i in range(size)})
            except MemoryError:
                pass
            finally:
                _testcapi.remove_mem_hooks()
""")
FAULT_FRAMES = ("dictresize", "type_ready")

# CPython 3.13.0 also crashes when single allocations fail while Python code runs that
# makes functions (a freed code object or traceback is used): PyJWT's code does, and the
# same sweep over jwt.encode(...) without the module crashes the same way. This ten-line
# program shows it without PyJWT (its argument: how many calls the closure gets).
CRASHING_CLOSURE = textwrap.dedent("""
    import _testcapi, sys

    def make():
        def inner(x):
            return x + 1
        return [inner(i) for i in range(int(sys.argv[1]))]

    for k in range(400):
        _testcapi.set_nomemory(k, k + 1)
        try:
            make()
        except MemoryError:
            pass
        finally:
            _testcapi.remove_mem_hooks()
""")

# The innermost frame is the module's when it names the module's file or its namespace.
MODULE_FRAME = re.compile(r"crypt_main|cm::")


class NoDebugger(RuntimeError):
    """gdb is needed to read the stack of a crash that no sanitizer reported."""


def stack_of_crash(command, cwd=None, env=None, timeout=600):
    """The C stack of the crash of `command`: from the sanitizer's report when it runs
    under the sanitizers, otherwise from running it again under gdb (up to three times).
    Empty when it does not crash."""
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout, env=env)
    if "ERROR: AddressSanitizer" in result.stderr:
        return result.stderr
    if result.returncode >= 0:
        return ""
    gdb = shutil.which("gdb")
    if gdb is None:
        raise NoDebugger("gdb is needed to tell where the interpreter crashed (`make peers` installs it as root)")
    # gdb itself runs without the sanitizer runtime; the program it starts gets it back
    env = dict(os.environ if env is None else env)
    preload = env.pop("LD_PRELOAD", None)
    # and with the address space laid out at random, as in the run that crashed
    setup = ["unset environment LINES", "unset environment COLUMNS", "set disable-randomization off"]
    if preload:
        setup.append(f"set environment LD_PRELOAD {preload}")
    for _ in range(3):
        result = subprocess.run([gdb, "-nx", "-batch", *(f"-ex={line}" for line in setup), "-ex=run", "-ex=bt",
                                 "--args", *command], cwd=cwd, capture_output=True, text=True, timeout=timeout,
                                env=env)
        if "Program received signal" in result.stdout:
            return result.stdout
    return ""


def frames(stack):
    """The frame lines of a gdb or sanitizer stack, innermost first."""
    return [line for line in stack.splitlines() if re.match(r"\s*#\d+ ", line)]


def crashed_in_the_module(stack):
    """Whether the innermost frame of `stack` is the module's."""
    return any(MODULE_FRAME.search(line) for line in frames(stack)[:1])


def is_the_type_fault(stack):
    """Whether `stack` shows the interpreter's fault in type(): its frames, innermost
    first, pass through FAULT_FRAMES in that order."""
    lines = frames(stack)
    position = 0
    for name in FAULT_FRAMES:
        position = next((i for i in range(position, len(lines)) if re.search(rf"\b{name}\b", lines[i])), None)
        if position is None:
            return False
    return True


def interpreter_has_the_type_fault(python=sys.executable, env=None):
    """Whether `python` crashes in type() under single failing allocations, with the
    stack that is_the_type_fault recognises."""
    return is_the_type_fault(stack_of_crash([python, "-c", CRASHING_TYPE], env=env))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cwd")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    stack = stack_of_crash(options.command, cwd=options.cwd)
    if not stack:
        print("no crash")
        return 1
    print(stack)
    print("innermost frame:", "the module's" if crashed_in_the_module(stack) else "not the module's")
    print("CPython 3.13.0's fault in type():", "yes" if is_the_type_fault(stack) else "no")
    return 0


if __name__ == "__main__":
    sys.exit(main())
