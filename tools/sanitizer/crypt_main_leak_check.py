"""Leak check for the sanitizer build (`make sanitize` installs this module and a .pth file
that imports it into .venv-asan, so it runs in every Python process started there: pytest
and every interpreter that the tests start).

CPython 3.13 does not free its interned strings when it exits, so LeakSanitizer's own
check at exit reports each of them. Instead, LeakSanitizer is asked once the program is
done but while the interpreter is still up: the interpreter's own objects are still
reachable then, and what is reported is memory that nothing points to any more, such as a
string or bytes object whose last reference was lost, or anything the C++ code allocated
and dropped. A leak ends the process with status 23 (LeakSanitizer's own).
"""

import atexit
import os
import sys


def _check():
    import ctypes
    import gc
    import threading

    # Daemon threads still inside Python code: what their frames hold lies in the
    # interpreter's data stacks, which it maps itself and LeakSanitizer does not scan, so
    # it would be reported as leaked (as in any program, pure Python too). Such a process
    # is not checked.
    if threading.active_count() > 1:
        return
    gc.collect()
    try:
        check = ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    except AttributeError:  # no sanitizer runtime in this process
        return
    if check():
        for stream in (sys.stdout, sys.stderr):
            try:
                stream.flush()
            except Exception:
                pass
        os._exit(23)


if os.environ.get("CRYPT_MAIN_SANITIZED") == "1":
    atexit.register(_check)
