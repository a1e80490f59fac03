"""Runs the fuzz targets (fuzz/fuzz_*.py) against the instrumented build and reports, per
target, the executions, the edges covered and the findings; exits 1 when any target
found something (a crash, a sanitizer report, an input that a check refused).

Run with the interpreter of the fuzz build's virtual environment (make fuzz, make
fuzz-smoke). Each target starts from its committed seeds (fuzz/corpus/<target>) and from
what earlier runs of this machine added (build/fuzz/corpus/<target>); findings are
written to build/fuzz/findings/<target>/ and the output to build/fuzz/logs/<target>.log.
Replay a finding with: make fuzz-replay INPUT=build/fuzz/findings/<target>/crash-...
"""

import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.path.join(ROOT, "build", "fuzz")
TARGETS = ["binding", "ciphers", "encodings", "rsa", "tokens", "globals"]


def environment():
    """The sanitizer runtime with libFuzzer (atheris's) preloaded into the interpreter,
    which is not instrumented itself; every object goes through the sanitizer's allocator.
    PyCryptodome loads its C parts with RTLD_DEEPBIND through cffi, which ASan refuses."""
    import atheris

    runtime = os.path.join(atheris.path(), "asan_with_fuzzer.so")
    cxx = os.environ.get("FUZZ_CXX", "clang++")
    libstdcxx = subprocess.run([cxx, "-print-file-name=libstdc++.so"], capture_output=True, text=True,
                               check=True).stdout.strip()
    env = dict(os.environ)
    env.update(
        LD_PRELOAD=f"{runtime} {libstdcxx}",
        PYTHONMALLOC="malloc",
        PYCRYPTODOME_DISABLE_DEEPBIND="1",
        # Leaks are the leak sweep's (tests/test_leaks.py, make sanitize): the interpreter's
        # caches would be reported after every input here.
        ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:handle_abort=1",
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1",
    )
    return env


def run_target(target, args, env):
    corpus = os.path.join(BUILD, "corpus", target)
    seeds = os.path.join(HERE, "corpus", target)
    findings = os.path.join(BUILD, "findings", target)
    log_path = os.path.join(BUILD, "logs", f"{target}.log")
    for path in (corpus, seeds, findings, os.path.dirname(log_path)):
        os.makedirs(path, exist_ok=True)
    before = set(os.listdir(findings))
    command = [sys.executable, os.path.join(HERE, f"fuzz_{target}.py"), corpus, seeds,
               f"-max_total_time={args.seconds}", f"-runs={args.runs}", "-max_len=1024", "-timeout=60",
               "-rss_limit_mb=6144", "-print_final_stats=1", "-reload=0", f"-artifact_prefix={findings}/"]
    started = time.monotonic()
    with open(log_path, "w") as log:
        code = subprocess.run(command, env=env, stdout=log, stderr=subprocess.STDOUT, cwd=ROOT).returncode
    elapsed = time.monotonic() - started
    with open(log_path, errors="replace") as log:
        text = log.read()
    executions = re.findall(r"stat::number_of_executed_units:\s*(\d+)", text)
    edges = re.findall(r"\bcov: (\d+)", text)
    new = sorted(set(os.listdir(findings)) - before)
    if code != 0 and not new:
        new = [f"exit status {code}"]
    return {
        "target": target,
        "executions": int(executions[-1]) if executions else 0,
        "edges": int(edges[-1]) if edges else 0,
        "seconds": elapsed,
        "findings": new,
        "log": os.path.relpath(log_path, ROOT),
        "excerpt": excerpt(text) if new else "",
    }


def excerpt(text):
    """The lines of the log that say what was found."""
    lines = [line for line in text.splitlines() if "NEW_FUNC" not in line]
    for marker in ("=== Uncaught Python exception", "ERROR: AddressSanitizer", "runtime error:", "ERROR: libFuzzer",
                   "==ERROR", "SUMMARY"):
        for i, line in enumerate(lines):
            if marker in line:
                return "\n".join(lines[i:i + 12])
    return "\n".join(lines[-12:])


def merge(target, env):
    """Replaces the committed seeds of `target` by a minimal set that keeps every edge of
    the seeds and of this machine's corpus."""
    seeds = os.path.join(HERE, "corpus", target)
    merged = os.path.join(BUILD, "merged", target)
    shutil.rmtree(merged, ignore_errors=True)
    os.makedirs(merged)
    command = [sys.executable, os.path.join(HERE, f"fuzz_{target}.py"), "-merge=1", "-max_len=1024", merged, seeds,
               os.path.join(BUILD, "corpus", target)]
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=ROOT, check=True)
    shutil.rmtree(seeds)
    shutil.copytree(merged, seeds)
    print(f"{target}: {len(os.listdir(seeds))} seeds")


def wait_saying_how_far(started, futures, every=30):
    """The results of the targets' runs, in the order given; says when each target is done,
    and at least every `every` seconds how far the run is (the logs of CI show nothing else
    while the targets run)."""
    pending = set(futures)
    while pending:
        done, pending = concurrent.futures.wait(pending, timeout=every,
                                                return_when=concurrent.futures.FIRST_COMPLETED)
        elapsed = int(time.monotonic() - started)
        for future in done:
            r = future.result()
            print(f"fuzz: {r['target']} done: {r['executions']:,} executions, {len(r['findings'])} findings,"
                  f" {r['seconds']:.0f} s", flush=True)
        if not done:
            running = ", ".join(sorted(futures[f] for f in pending if f.running()))
            print(f"... {len(futures) - len(pending)}/{len(futures)} targets done, {elapsed // 60} min"
                  f" {elapsed % 60} s; running: {running}", flush=True)
    return [future.result() for future in futures]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=int, default=60, help="time per target (default 60)")
    parser.add_argument("--runs", type=int, default=-1, help="executions per target (default: no limit)")
    parser.add_argument("--jobs", type=int, default=1, help="targets run at once (default 1)")
    parser.add_argument("--targets", default="all", help=f"comma-separated, from {', '.join(TARGETS)}")
    parser.add_argument("--merge", action="store_true", help="afterwards, minimise the corpus into fuzz/corpus")
    parser.add_argument("--merge-only", action="store_true", help="only minimise the corpus into fuzz/corpus")
    parser.add_argument("--replay", metavar="INPUT", help="run the target of build/fuzz/findings/<target>/INPUT once")
    args = parser.parse_args()
    if args.replay:
        target = os.path.basename(os.path.dirname(os.path.abspath(args.replay)))
        command = [sys.executable, os.path.join(HERE, f"fuzz_{target}.py"), args.replay]
        return subprocess.run(command, env=environment(), cwd=ROOT).returncode
    targets = TARGETS if args.targets == "all" else args.targets.split(",")
    unknown = set(targets) - set(TARGETS)
    if unknown:
        parser.error(f"unknown targets: {', '.join(sorted(unknown))}")
    env = environment()
    if args.merge_only:
        for target in targets:
            merge(target, env)
        return 0

    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = wait_saying_how_far(started, {pool.submit(run_target, t, args, env): t for t in targets})
    print()
    print("| target | executions | edges | findings | seconds |")
    print("|---|---:|---:|---|---:|")
    for r in results:
        print(f"| {r['target']} | {r['executions']:,} | {r['edges']} | {len(r['findings'])} | {r['seconds']:.0f} |")
    print(f"\nall targets: {time.monotonic() - started:.0f} s")
    found = [r for r in results if r["findings"]]
    for r in found:
        print(f"\n{r['target']}: {', '.join(r['findings'])} (log: {r['log']})\n{r['excerpt']}")
    if args.merge and not found:
        for target in targets:
            merge(target, env)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
