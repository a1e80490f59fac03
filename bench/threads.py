"""Calls per second on one thread and on two, the module against the pure-Python class,
with a control that tells whether the second core was free.

    python bench/threads.py [--calls N] [--rounds R]

The same mix of calls (digests, Base64, AES both ways, an HMAC, a token verified) runs N
times on one thread, then split over two threads, then on one thread again; a round's
scaling is the two threads' calls per second over the mean of the one thread's before
and after, so that a change of the machine's load during the round falls on both sides
alike. Each variant takes its round in turn, and the figures are the medians over the R
rounds. The control is a loop of pure-Python arithmetic, which two threads run twice as
fast when they truly run at once and the second core is free: its scaling bounds what the
calls could reach in the same moments. Beside them, the processor time that the threads
themselves spent per call (the median), which grows with two threads by what they cost
each other (contention for shared memory). With the GIL (a default build) no scaling
rises above 1; without it (a free-threaded CPython) the module's is to be set beside the
pure class's and the control's, all from this one run.
"""

import argparse
import statistics
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
    figures = {name: [] for name in variants}  # (calls/s on 1, on 2, scaling, cpu on 1, cpu on 2) per round
    for _ in range(args.rounds):
        for name, (one_pass, per_pass) in variants.items():
            passes = args.calls // per_pass if name != "control" else args.calls
            before = rate(one_pass, per_pass, passes, 1)
            two = rate(one_pass, per_pass, passes, 2)
            after = rate(one_pass, per_pass, passes, 1)
            one = ((before[0] + after[0]) / 2, (before[1] + after[1]) / 2)
            figures[name].append((one[0], two[0], two[0] / one[0], one[1], two[1]))
    median = {name: [statistics.median(column) for column in zip(*rows)] for name, rows in figures.items()}
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = "on" if not free_threaded or sys._is_gil_enabled() else "off"
    print(f"CPython {sys.version.split()[0]}{' free-threaded' if free_threaded else ''}, the GIL {gil};"
          f" {args.rounds} rounds of {args.calls} calls")
    print("\n| calls | 1 thread, calls/s | 2 threads, calls/s | 2 threads / 1 | processor time of a call,"
          " 1 thread | 2 threads | 2 / 1 |\n|---|---:|---:|---:|---:|---:|---:|")
    for name in variants:
        one, two, scaling, cpu_one, cpu_two = median[name]
        print(f"| {name} | {one:,.0f} | {two:,.0f} | {scaling:.2f} | {cpu_one * 1e6:.2f} µs | {cpu_two * 1e6:.2f} µs"
              f" | {cpu_two / cpu_one:.2f} |")
    module, pure, arithmetic = median["module"], median["pure-Python"], median["control"]
    print(f"\nmedians of {args.rounds} rounds: the module {module[0] / pure[0]:.2f}x the pure class's calls per"
          f" second on one thread; scaling {module[2]:.2f} against {pure[2]:.2f}; the control's {arithmetic[2]:.2f}"
          f" (2.00: the second core was free)")


if __name__ == "__main__":
    main()
