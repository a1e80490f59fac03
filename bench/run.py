"""Wall-clock benchmarks: crypt_main against the pure-Python class and the inline calls.

    python bench/run.py [--only REGEX] [--rounds N] [--quick] [--no-scaling] [--write FILE]

For each operation the three variants are timed side by side in one run: every round
times each of them once, in a fresh random order, over a loop long enough to last a
couple of milliseconds. A figure is the median of the fastest quarter of the rounds,
which is what the machine gives when nothing else gets in the way, and interleaving
keeps the variants under the same conditions when other work comes and goes.
"""

import argparse
import gc
import math
import os
import random
import re
import statistics
import sys
import timeit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import memory  # noqa: E402
import report  # noqa: E402

TARGET_SECONDS = 0.002  # one timed loop


def calibrate(timer, target=TARGET_SECONDS):
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= target or number >= 1 << 24:
            return max(1, math.ceil(number * target / max(elapsed, 1e-9)))
        number *= 10 if elapsed < target / 20 else 2


def fastest(samples):
    """The median of the fastest quarter (at least three samples)."""
    ordered = sorted(samples)
    return statistics.median(ordered[: max(3, len(ordered) // 4)])


def measure(statements, setup, ns, rounds):
    """ns per call of each statement, timed interleaved; `statements` maps name -> code."""
    timers = {name: timeit.Timer(stmt, setup, globals=ns) for name, stmt in statements.items()}
    numbers = {name: calibrate(t) for name, t in timers.items()}
    samples = {name: [] for name in timers}
    names = list(timers)
    for _ in range(rounds):
        random.shuffle(names)
        for name in names:
            samples[name].append(timers[name].timeit(numbers[name]) / numbers[name] * 1e9)
    figures = {name: fastest(s) for name, s in samples.items()}
    # the same figures from the odd and from the even rounds, for the noise estimate
    figures["halves"] = [{name: fastest(s[half::2]) for name, s in samples.items()} for half in (0, 1)]
    return figures


def run_case(case, ns, setup, rounds):
    variants = [v for v in ("module", "pure", "inline") if case.statement(v) is not None]
    return measure({v: case.statement(v) for v in variants}, setup, ns, rounds)


def outcome(case, variant, ns):
    """What one variant gives: its result, or for a failing case (type, text) of its error."""
    local = {"_args": tuple(case.args.values())}
    exec(case.setup, ns, local)
    try:
        if variant == "inline":
            exec(case.inline, ns, local)
            return local[case.result]
        exec(case.prefix_for(variant), ns, local)
        return eval(getattr(case, variant), ns, local)
    except NotImplementedError:
        raise
    except Exception as error:
        if not case.error:
            raise
        return type(error), str(error)


def check(case, ns):
    """The three statements give the same result; returns None, or why the case is skipped."""
    results = {}
    for variant in ("module", "pure", "inline"):
        if case.statement(variant) is None:
            continue
        try:
            results[variant] = outcome(case, variant, ns)
        except NotImplementedError:
            return f"{variant}: not implemented yet"
    values = list(results.values())
    if case.error and not all(isinstance(v, tuple) and v[0].__name__ in case.error for v in values):
        raise AssertionError(f"{case.name}: not every variant fails with {case.error}: {results}")
    if case.exact and any(v != values[0] for v in values):
        raise AssertionError(f"{case.name}: the variants disagree: {results}")
    if case.error and results["module"][0] is not results["pure"][0]:
        raise AssertionError(f"{case.name}: the variants fail differently: {results}")
    if type(results["module"]) is not type(results["pure"]):
        raise AssertionError(f"{case.name}: result types differ: {results}")
    return None


def with_args(case):
    ns = cases.namespace()
    ns["_args"] = tuple(case.args.values())
    return ns


def operations(pattern, rounds):
    rows = []
    for case in cases.operation_cases():
        if pattern and not re.search(pattern, case.name):
            continue
        ns = with_args(case)
        skipped = check(case, ns)
        if skipped:
            print(f"{case.name:40} skipped: {skipped}", flush=True)
            rows.append((case, None))
            continue
        ns_per_call = run_case(case, ns, case.setup, rounds)
        rows.append((case, ns_per_call))
        print(report.operation_line(case, ns_per_call), flush=True)
    return rows


def frame(rounds):
    ns, setup, statements = cases.frame_statements()
    figures = measure(statements, setup, ns, rounds)
    figures.pop("halves")
    loop = measure({"empty loop": "pass"}, "pass", ns, rounds)["empty loop"]
    return figures, loop


SCALING_OPS = ("md5", "sha256", "base64", "aes_cbc")
SCALING_SIZES = [4**i for i in range(11)]  # 1 B .. 1 MiB


def scaling(rounds, ops=SCALING_OPS, sizes=SCALING_SIZES):
    rows = []
    for op in ops:
        for size in sizes:
            text = "a" * size
            args = {
                "md5": {"value": text, "fmt": "upper"},
                "sha256": {"value": text, "fmt": "upper"},
                "base64": {"value": text},
                "aes_cbc": {"value": text, "key": cases.KEY16, "iv": cases.IV16},
            }[op]
            case = cases.case(op, f"{size} B", args)
            ns = with_args(case)
            skipped = check(case, ns)
            if skipped:
                print(f"{case.name:40} skipped: {skipped}", flush=True)
                break
            # big inputs: fewer rounds, each a few calls
            figures = run_case(case, ns, case.setup, rounds if size < 1 << 16 else max(9, rounds // 3))
            rows.append((op, size, figures))
            print(report.operation_line(case, figures), flush=True)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="only the operations whose name matches this regular expression")
    parser.add_argument("--rounds", type=int, default=40)
    parser.add_argument("--quick", action="store_true", help="few rounds: a smoke test of the harness")
    parser.add_argument("--no-scaling", action="store_true")
    parser.add_argument("--no-frame", action="store_true")
    parser.add_argument("--write", metavar="FILE", help="write the figures into this markdown file")
    args = parser.parse_args()
    rounds = 5 if args.quick else args.rounds

    cases.seeded_rsa_random()
    gc.collect()
    info = report.machine()
    print(report.machine_text(info))
    print(report.OPERATION_HEADER)
    rows = operations(args.only, rounds)
    frame_figures = None
    if not args.no_frame and not args.only:
        frame_figures = frame(rounds)
        print()
        print(report.frame_text(*frame_figures))
    scaling_rows = None
    if not args.no_scaling and not args.only:
        print("\nscaling: module/inline against input size")
        print(report.OPERATION_HEADER)
        scaling_rows = scaling(rounds, sizes=SCALING_SIZES[::2] if args.quick else SCALING_SIZES)
    memory_rows = None
    if not args.only:
        memory_rows = memory.measure()
        print("\npeak memory of one call on 1 MiB of text")
        print(memory.markdown(memory_rows))
    info["load after"] = report.load()
    print()
    print(report.summary_text(rows))
    if args.write and (args.only or args.quick):
        print(f"\n{args.write} is left as it is: --only and --quick give partial figures")
    elif args.write:
        sections = {"machine": report.machine_markdown(info), "operations": report.operations_markdown(rows)}
        if frame_figures:
            sections["frame"] = report.frame_markdown(*frame_figures)
        if memory_rows:
            sections["memory"] = memory.markdown(memory_rows)
        if scaling_rows:
            plot = os.path.join(os.path.dirname(os.path.abspath(args.write)), "scaling.png")
            report.plot_scaling(scaling_rows, plot)
            sections["scaling"] = report.scaling_markdown(scaling_rows, os.path.basename(plot))
        report.write_sections(args.write, sections)
        print(f"\nwritten to {args.write}")


if __name__ == "__main__":
    main()
