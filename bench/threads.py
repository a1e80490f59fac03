"""Calls per second on one thread and on two, the module against the pure-Python class,
with a control that tells whether the second core was free.

    python bench/threads.py [--calls N] [--rounds R]

The same mix of calls (digests, Base64, AES both ways, a token made and verified) runs
N times on one thread, then split over two threads; the figure is calls per second, the
best of R rounds, the variants taken in turn within each round so that the machine's
load falls on all alike; beside it, the processor time that the threads themselves spent
per call (the least of the rounds), which grows with two threads only by what they cost
each other (contention for shared memory), whatever else the machine runs. The control is a loop of pure-Python arithmetic, which two
threads run twice as fast when they truly run at once and the second core is free: its
ratio bounds what the calls could reach in the same moments. With the GIL (a default
build) no ratio rises above 1; without it (a free-threaded CPython) the module's ratio is
to be set beside the pure class's and the control's, all from this one run.
"""

import argparse
import sys
import sysconfig
import threading
import time

import crypt_main
import pure_crypt

KEY16 = "0123456789abcdef"
TOKEN_KEY = "a token secret of 32 bytes or so!"
TEXT = "The quick brown fox 你好"


def mix(m):
    """One pass over the calls of the mix, with the methods of `m`."""
    ciphertext = m.aes_ecb(TEXT, KEY16)
    token = m.token(TEXT, TOKEN_KEY)

    def one_pass():
        m.md5(TEXT, "lower")
        m.sha256(TEXT, "upper")
        m.base64_decrypt(m.base64(TEXT))
        m.aes_ecb_decrypt(ciphertext, KEY16)
        m.aes_ecb(TEXT, KEY16)
        m.md5_hmac(TEXT, KEY16)
        m.token_decrypt(token, TOKEN_KEY)
    return one_pass, 8


def control():
    def one_pass():
        total = 0
        for i in range(300):
            total += i * i
        return total
    return one_pass, 1


def rate(one_pass, calls_per_pass, passes, threads):
    """Calls per second when `threads` threads share `passes` passes, and the processor
    time of a call (of the threads' own: what contention between them costs shows there,
    a core taken by another process does not)."""
    start = threading.Barrier(threads + 1)
    cpu = []

    def work(n):
        start.wait()
        began = time.thread_time()
        for _ in range(n):
            one_pass()
        cpu.append(time.thread_time() - began)

    shares = [passes // threads + (i < passes % threads) for i in range(threads)]
    workers = [threading.Thread(target=work, args=(n,)) for n in shares]
    for w in workers:
        w.start()
    start.wait()
    began = time.perf_counter()
    for w in workers:
        w.join()
    calls = passes * calls_per_pass
    return calls / (time.perf_counter() - began), sum(cpu) / calls


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=40_000, help="calls of the mix per measurement")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    variants = {"module": mix(crypt_main.m_crypt), "pure-Python": mix(pure_crypt.m_crypt), "control": control()}
    best = {(name, threads): 0.0 for name in variants for threads in (1, 2)}
    cpu = {(name, threads): float("inf") for name in variants for threads in (1, 2)}
    for _ in range(args.rounds):
        for name, (one_pass, per_pass) in variants.items():
            passes = args.calls // per_pass if name != "control" else args.calls
            for threads in (1, 2):
                calls_per_second, cpu_per_call = rate(one_pass, per_pass, passes, threads)
                best[name, threads] = max(best[name, threads], calls_per_second)
                cpu[name, threads] = min(cpu[name, threads], cpu_per_call)
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = "on" if not free_threaded or sys._is_gil_enabled() else "off"
    print(f"CPython {sys.version.split()[0]}{' free-threaded' if free_threaded else ''}, the GIL {gil};"
          f" best of {args.rounds} rounds of {args.calls} calls")
    print("\n| calls | 1 thread, calls/s | 2 threads, calls/s | 2 threads / 1 | processor time of a call,"
          " 1 thread | 2 threads | 2 / 1 |\n|---|---:|---:|---:|---:|---:|---:|")
    for name in variants:
        one, two = best[name, 1], best[name, 2]
        print(f"| {name} | {one:,.0f} | {two:,.0f} | {two / one:.2f} | {cpu[name, 1] * 1e6:.2f} µs"
              f" | {cpu[name, 2] * 1e6:.2f} µs | {cpu[name, 2] / cpu[name, 1]:.2f} |")
    module = best["module", 2] / best["module", 1]
    pure = best["pure-Python", 2] / best["pure-Python", 1]
    print(f"\nmodule against the pure class: {best['module', 1] / best['pure-Python', 1]:.2f}x the calls per second"
          f" on one thread; scaling {module:.2f} against {pure:.2f};"
          f" the control's {best['control', 2] / best['control', 1]:.2f} (2.00: the second core was free)")


if __name__ == "__main__":
    main()
