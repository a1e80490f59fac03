"""Where a crashed process crashed, and whose fault that is: its C stack, read from the
sanitizer's report or by running the command again under gdb, with what the process
printed (an assertion, a fatal error); the frames nearest to the fault tell whether it
happened in the module, or in the interpreter while it ran Python code. The
allocation-failure sweeps (tests/test_nomemory.py) accept a crash only when it is shown
here to be the interpreter's; on any build, by the stack, not by a list of versions.

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

# CPython 3.13 without the GIL (3.13.15 here) frees an item array twice when PyList_New
# cannot allocate a list's own: a list object taken from the free list still points to
# the array of the list it was, which list_dealloc frees again. The heap's free list then
# holds a cycle, and the process loops for ever as it clears its heaps at exit
# (_PyThreadState_ClearMimallocHeaps). LIST_DOUBLE_FREE shows it without the module: with
# the allocator's debug hooks (PYTHONMALLOC=mimalloc_debug) the second free stops the
# process at once, with their report or by a fault where they read the freed block.
LIST_DOUBLE_FREE = textwrap.dedent("""
    import _testcapi
    a, b, c = "a", "b", "c"
    x = [a, b, c]
    del x  # to the free list; its array is freed
    _testcapi.set_nomemory(0, 1)
    try:
        y = [a, b, c]  # the free list's object, whose new array cannot be allocated
    except MemoryError:
        pass
    _testcapi.remove_mem_hooks()
""")

# A frame is the module's when its function is in the module's namespace (cm::, also
# inside a template's arguments) or its code lies in the module's library.
MODULE_FUNCTION = re.compile(r"(?<![\w:])cm::|PyInit_crypt_main")
MODULE_LIBRARY = re.compile(r"crypt_main[^/]*\.so")
# What a function of the module is called in the interpreter's messages (_Crypt.md5).
MODULE_NAME = re.compile(r"\b_Crypt\.|crypt_main")
# The frame of the interpreter's loop that runs Python code.
EVAL_FUNCTION = "_PyEval_EvalFrameDefault"
# The frames that stop a process, nearest to the fault of every crash: the C library's
# (abort, raise, its signal and assertion functions, where the symbols are missing only
# its file name), the interpreter's fatal error path and the sanitizers' reports.
STOP_FUNCTION = re.compile(
    r"^(raise|abort|gsignal|pthread_kill|__pthread_kill\w*|__GI_\w+|__assert_\w+|__libc_\w+|fatal_error\w*|"
    r"_Py_FatalError\w*|Py_FatalError|faulthandler_\w+|__sanitizer\w*|__asan\w*|__ubsan\w*|__interceptor_\w+)$")
STOP_LIBRARY = re.compile(r"/libc\.so|/libasan\.so|/libubsan\.so")

# How the process said it stopped.
ASSERTION = re.compile(r"(\S+?):(\d+): (\w+): Assertion [`'](.+)' failed")
FATAL_ERROR = re.compile(r"Fatal Python error: (\w+): (.*)")
# The interpreter's check of a call's result (_Py_CheckFunctionResult) names the callee
# that broke the protocol; a debug build stops there.
BROKEN_RESULT = re.compile(r"SystemError: (.+) returned (NULL without setting an exception|a result with an exception set)")
# The interpreter's assertions that a function is not entered with an exception set
# (`!_PyErr_Occurred(tstate)', `!PyErr_Occurred()'): the caller broke the protocol.
ENTERED_WITH_EXCEPTION = re.compile(r"`!_?PyErr_Occurred\(")


class NoDebugger(RuntimeError):
    """gdb is needed to read the stack of a crash that no sanitizer reported."""


def stack_of_crash(command, cwd=None, env=None, timeout=600):
    """The report of the crash of `command`: the sanitizer's when it runs under the
    sanitizers, otherwise gdb's stack from running it again under gdb (up to three
    times), followed by what the program printed on its error output. Empty when it
    does not crash."""
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
            return result.stdout + "\n" + result.stderr
    return ""


def frames(stack):
    """The frame lines of a gdb or sanitizer stack, innermost first (the first stack of
    a sanitizer's report comes first)."""
    return [line for line in stack.splitlines() if re.match(r"\s*#\d+ ", line)]


class Frame:
    """One frame line: its function and where its code lies (a source file, or a
    library where there are no symbols). The arguments that gdb prints are left out:
    they name any object, the module's too."""

    def __init__(self, line):
        rest = re.sub(r"^\s*#\d+\s+(0x[0-9a-fA-F]+\s+in\s+)?", "", line).strip()
        place = re.search(r"\s(?:at|from)\s+(\S+)$", rest)  # gdb: "f (args) at file:line", "?? () from lib"
        if place is None:
            place = re.search(r"\s\(?([^\s()]+?)\)?$", rest)  # sanitizers: "f(types) file:line:col", "f (/lib+0x..)"
        self.place = place.group(1) if place else ""
        named = (rest[:place.start()] if place else rest).replace("(anonymous namespace)", "{anonymous}")
        self.function = re.split(r"\s*\(", named, maxsplit=1)[0].strip()
        self.line = line.strip()

    @property
    def module(self):
        return bool(MODULE_FUNCTION.search(self.function) or MODULE_LIBRARY.search(self.place))

    @property
    def python_code(self):
        return self.function == EVAL_FUNCTION

    @property
    def stops(self):
        return bool(STOP_FUNCTION.match(self.function) or STOP_LIBRARY.search(self.place))


class Fault:
    """Whose fault a crash is: `owner` ("the module", "the interpreter", or a package
    whose native code it happened in), what stopped the process, and where."""

    def __init__(self, owner, what, where):
        self.owner, self.what, self.where = owner, what, where

    @property
    def module(self):
        return self.owner == "the module"

    def __str__(self):
        return f"{self.what}, {self.where}"


def what_stopped(report):
    """What stopped the process, as it said so: an assertion (the condition, the file of
    the interpreter's source and the line), a fatal error, or the signal."""
    assertion = ASSERTION.search(report)
    if assertion:
        path, line, function, condition = assertion.groups()
        return f"assertion `{condition}' failed in {path.rsplit('/', 1)[-1]}:{line}"
    fatal = FATAL_ERROR.search(report)
    if fatal:
        return f"fatal error in {fatal.group(1)}: {fatal.group(2).strip()}"
    if re.search(r"non-unwinding panic|panicked at", report):
        return "abort on a panic in Rust code"
    sanitizer = re.search(r"ERROR: (\w+Sanitizer): ([\w-]+)", report)
    if sanitizer:
        return f"{sanitizer.group(1)}: {sanitizer.group(2)}"
    signal = re.search(r"Program received signal (\w+)", report)
    return {"SIGSEGV": "segmentation fault", "SIGABRT": "abort", "SIGBUS": "bus error"}.get(
        signal and signal.group(1), signal.group(1) if signal else "crash")


def diagnose(report):
    """Whose fault the crash in `report` (stack_of_crash) is, by where it happened:
    - the module's when the nearest frame past the machinery that stops a process is
      the module's: a fault in its code, or in code of the interpreter's headers that
      it inlined;
    - for the interpreter's check of a call's result, which stops a debug build: the
      module's when the callee it names is one of the module's; the callee's when it
      returned NULL without an exception (it lost its exception);
    - for a result with an exception set, and for an assertion that a function was not
      entered with an exception set: the caller, who may have called it with one
      pending (the nearest frame outward that is the module's or the interpreter's
      loop running Python code);
    - otherwise the nearest such frame outward: the module's when it is the module's (a
      call the module made into the interpreter failed, whatever the reason), the
      interpreter's when it ran Python code at the time (the module may have called
      that code, but the fault is in how the interpreter ran it), and the interpreter's
      when no frame of the module is on the stack at all.
    """
    lines = [Frame(line) for line in frames(report)]
    nearest = next((i for i, f in enumerate(lines) if not f.stops), len(lines))
    lines = lines[nearest:]
    what = what_stopped(report)
    if lines and lines[0].module:
        return Fault("the module", what, f"in the module ({lines[0].function})")
    broken = BROKEN_RESULT.findall(report)
    broken = broken[-1] if broken and "_Py_CheckFunctionResult" in what else None  # the last: the one that stopped it
    if broken and MODULE_NAME.search(broken[0]):
        return Fault("the module", what, f"the callee {broken[0]}")
    if broken and broken[1].startswith("NULL"):  # the callee lost its exception: no caller makes it do that
        kind = "a Python function" if broken[0].startswith("<function ") else "a built-in function or object"
        return Fault("the interpreter", what, f"the callee {kind}")
    if not lines:
        return Fault("the module", what, "with no stack to tell whose fault it is")
    innermost = lines[0].function
    if what in ("segmentation fault", "abort", "bus error"):  # the process said nothing: name the place
        what += f" in {innermost}"
    owner = next((f for f in lines if f.module or f.python_code), None)
    if owner is None:
        return Fault("the interpreter", what, "with no frame of the module on the stack")
    if ENTERED_WITH_EXCEPTION.search(what) or broken:
        # entered with an exception set, or a result with one: the callee may have set
        # it, or the caller called it with one pending; the caller is held to it
        return Fault("the module" if owner.module else "the interpreter", what,
                     ("called with an exception set by " if not broken else "the caller ")
                     + (f"the module ({owner.function})" if owner.module else "Python code"))
    if owner.module:
        return Fault("the module", what, f"in a call that the module made ({owner.function})")
    package = re.search(r"(?:site|dist)-packages/([^/]+)/", lines[0].place)
    if package:
        return Fault(f"the package {package.group(1)}", what,
                     f"in {package.group(1)}'s native code ({lines[0].place.rsplit('/', 1)[-1]}), called by Python code")
    return Fault("the interpreter", what, "while the interpreter ran Python code")


def fault_from_output(output):
    """The fault, where what the process printed names the frame it happened in, so
    that no stack is needed: an assertion of the interpreter's loop that runs Python
    code (assert() names its function; not the one that the loop was not entered with
    an exception set, where the caller decides), or the interpreter's check of a call's
    result, which names the callee that returned NULL without an exception. None where
    only the stack can tell."""
    assertion = ASSERTION.search(output)
    if assertion and assertion.group(3) == EVAL_FUNCTION and not assertion.group(4).startswith("!"):
        return diagnose(f"#0 {EVAL_FUNCTION} () at {assertion.group(1)}:{assertion.group(2)}\n{output}")
    fatal = FATAL_ERROR.search(output)
    broken = BROKEN_RESULT.findall(output)
    if fatal and fatal.group(1) == "_Py_CheckFunctionResult" and broken and broken[-1][1].startswith("NULL"):
        return diagnose(output)
    return None


def crashed_in_the_module(stack):
    """Whether the crash in `stack` is the module's fault (see diagnose)."""
    return diagnose(stack).module


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


def interpreter_has_the_list_fault(python=sys.executable):
    """Whether `python` frees a list's stale item array again (LIST_DOUBLE_FREE)."""
    env = dict(os.environ, PYTHONMALLOC="mimalloc_debug")
    result = subprocess.run([python, "-c", LIST_DOUBLE_FREE], env=env, capture_output=True, text=True, timeout=120)
    return result.returncode < 0 or "_PyMem_DebugRawFree: bad ID" in result.stderr


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
    fault = diagnose(stack)
    print(f"fault of {fault.owner}: {fault}")
    print("CPython 3.13.0's fault in type():", "yes" if is_the_type_fault(stack) else "no")
    return 0


if __name__ == "__main__":
    sys.exit(main())
