"""Instructions per call, counted by valgrind's callgrind: figures that do not move with
the machine's load.

    python bench/instr.py [--only REGEX] [--calls N] [--write FILE]

Run as it is, it builds the callgrind marks (bench/callgrind_marks.c) and runs itself
again under `valgrind --tool=callgrind`. There each measured loop is warmed up first
(so the interpreter has specialised its instructions), then the counters are zeroed,
the loop runs N calls, and the counts are dumped under the loop's label. An empty loop
measured the same way is subtracted, so a figure is the cost of one call alone.
The dumps stay in bench/.build/callgrind-X.Y/ (X.Y the interpreter's version, and "t" after it
for a free-threaded one, so that runs on several interpreters can go side by side) for
callgrind_annotate.
"""

import argparse
import ctypes
import glob
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, ".build")
# (one per interpreter: the default and the free-threaded 3.13 may count at the same time)
OUT = os.path.join(BUILD, "callgrind-{}.{}{}".format(*sys.version_info[:2], sys.abiflags))
MARKS_SOURCE = os.path.join(HERE, "callgrind_marks.c")
MARKS = os.path.join(BUILD, "callgrind_marks.so")
VARIANTS = ("module", "pure", "inline")
# the module's method taken from m_crypt once, before the loop: the call without the
# attribute look-up `m_crypt.name`, which the interpreter does not specialise
BOUND = "bound"

sys.path.insert(0, HERE)


def build_marks():
    if os.path.exists(MARKS) and os.path.getmtime(MARKS) >= os.path.getmtime(MARKS_SOURCE):
        return
    os.makedirs(BUILD, exist_ok=True)
    # built aside and moved in place: a run beside this one may load it meanwhile
    made = f"{MARKS}.{os.getpid()}"
    subprocess.run([os.environ.get("CC", "cc"), "-O2", "-shared", "-fPIC", MARKS_SOURCE, "-o", made], check=True)
    os.replace(made, MARKS)


def loop_function(setup, stmt):
    """def inner(...): the statement N times to warm up, then N times between the marks."""
    body = "\n".join("        " + line for line in stmt.splitlines())
    source = (f"def inner(_args, _zero, _dump, _label, _n):\n"
              f"    {setup}\n"
              f"    for _ in range(_n):\n{body}\n"
              f"    _zero()\n"
              f"    for _ in range(_n):\n{body}\n"
              f"    _dump(_label)\n")
    return source


def measured_loops(pattern):
    """(label, setup, statement, namespace, args) for every loop to count."""
    import cases

    loops = []
    for case in cases.operation_cases():
        if not case.cheap or (pattern and not re.search(pattern, case.name)):
            continue
        ns = cases.namespace()
        for variant in VARIANTS:
            if case.statement(variant) is not None:
                loops.append((f"{case.name} | {variant}", case.setup, case.statement(variant), ns,
                              tuple(case.args.values())))
        bound = case.statement("module").replace(f"M.{case.op}(", "_bound(", 1)
        loops.append((f"{case.name} | {BOUND}", f"{case.setup}; _bound = M.{case.op}", bound, ns,
                      tuple(case.args.values())))
    if any("rebound" in label for label, *_ in loops):
        for (where, variant), stmt in cases.rebinding_alone().items():
            loops.append((f"rebinding alone: {where} | {variant}", "pass", stmt, cases.namespace(), ()))
    if not pattern or re.search(pattern, "__init__"):
        ns, setup, statements = cases.frame_statements()
        for name, stmt in statements.items():
            if "m_crypt)" in name:
                continue
            loops.append((f"frame | {name}", setup, stmt, ns, ()))
    return loops


def run_inside(pattern, calls):
    marks = ctypes.CDLL(MARKS)
    marks.marks_dump.argtypes = [ctypes.c_char_p]
    zero = marks.marks_zero
    dump = lambda label: marks.marks_dump(label.encode())  # noqa: E731
    import gc

    import cases

    cases.seeded_rsa_random()
    empty = ("empty loop", "pass", "pass", cases.namespace(), ())
    loops = [empty, empty] + measured_loops(pattern)  # the first warms up the marks
    for label, setup, stmt, ns, args in loops:
        local = {}
        exec(loop_function(setup, stmt), ns, local)
        gc.collect()
        gc.disable()
        try:
            local["inner"](args, zero, dump, label, calls)
        except NotImplementedError:
            print(f"{label}: not implemented yet", file=sys.stderr)
        finally:
            gc.enable()


def read_dumps():
    counts = {}
    for path in sorted(glob.glob(os.path.join(OUT, "cg.out.*")), key=lambda p: int(p.rsplit(".", 1)[1])):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        label = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
        total = re.search(r"^(?:totals|summary): (\d+)", text, re.M)
        if label and total:
            counts[label.group(1)] = int(total.group(1))
    return counts


def table(counts, calls):
    base = counts.get("empty loop", 0)
    rows = {}
    for label, total in counts.items():
        if label == "empty loop":
            continue
        name, variant = label.rsplit(" | ", 1)
        rows.setdefault(name, {})[variant] = (total - base) / calls
    return rows, base / calls


def markdown(rows, loop, calls):
    lines = [f"instructions per call (callgrind, {calls} calls after as many for warm-up, "
             f"net of an empty loop of {loop:.0f} instructions per pass)", "",
             "| operation | module | pure-Python | inline | module/pure | module/inline "
             "| module, method taken once | that /inline |",
             "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for name, figures in rows.items():
        if name == "frame" or name.startswith("rebinding alone"):
            continue
        m, p, i, b = (figures.get(v) for v in (*VARIANTS, BOUND))
        ratio = lambda a, b: f"{a / b:.2f}" if a and b else ""  # noqa: E731
        cell = lambda v: f"{v:,.0f}" if v is not None else "n/a"  # noqa: E731
        lines.append(f"| {name} | {cell(m)} | {cell(p)} | {cell(i)} | {ratio(m, p)} | {ratio(m, i)} "
                     f"| {cell(b)} | {ratio(b, i)} |")
    rebinding = rebinding_markdown(rows)
    if rebinding:
        lines += ["", *rebinding]
    frame = rows.get("frame")
    if frame:
        lines += ["", "| frame statement | instructions per call |", "|---|---:|"]
        lines += [f"| `{name}` | {value:,.0f} |" for name, value in frame.items()]
    return "\n".join(lines)


def rebinding_markdown(rows):
    """A call right after a global was rebound, against an undisturbed call."""
    lines = []
    for name in rows:
        ratios = next_call_ratio(rows, name)
        if not ratios:
            continue
        where = re.search(r"a global of (.*) rebound", name).group(1)
        alone = rows[f"rebinding alone: {where}"]
        cells = [f"{rows[name][v] - alone[v]:,.0f} ({ratios[v]:.2f})" if v in ratios else "n/a"
                 for v in ("module", "pure")]
        lines.append(f"| {where} | {cells[0]} | {cells[1]} |")
    if not lines:
        return []
    return ["| global rebound before each md5 (short) call | module: next call (× undisturbed) "
            "| pure: next call (× undisturbed) |", "|---|---:|---:|", *lines]


def count(pattern, calls):
    """Runs the loops whose names match `pattern` under callgrind: (rows, empty loop),
    rows mapping each operation to its instructions per call by variant."""
    if shutil.which("valgrind") is None:
        sys.exit("instr.py: valgrind is not installed (apt-get install valgrind)")
    build_marks()
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    command = ["valgrind", "--tool=callgrind", "--compress-strings=no", f"--callgrind-out-file={os.path.join(OUT, 'cg.out')}",
               sys.executable, os.path.abspath(__file__), "--inside", "--calls", str(calls)]
    if pattern:
        command += ["--only", pattern]
    # A fixed hash seed: string hashes decide how dictionaries probe, which moves the
    # counts by a few dozen instructions from one run to the next.
    env = dict(os.environ, PYTHONHASHSEED="0")
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
    if done.returncode != 0:
        sys.exit(done.stderr)
    for line in done.stderr.splitlines():
        if "not implemented" in line:
            print(line)
    # the frame section lists the frame statements by name
    counts = read_dumps()
    frame = {label.split(" | ", 1)[1]: total for label, total in counts.items() if label.startswith("frame | ")}
    counts = {k: v for k, v in counts.items() if not k.startswith("frame | ")}
    rows, loop = table(counts, calls)
    if frame:
        base = counts.get("empty loop", 0)
        rows["frame"] = {name: (total - base) / calls for name, total in frame.items()}
    return rows, loop


def next_call_ratio(rows, name):
    """For a row that rebinds a global before each call: the call's own instructions (the
    row less the rebinding alone) over an undisturbed call, by variant."""
    where = re.search(r"a global of (.*) rebound", name)
    alone = rows.get(f"rebinding alone: {where.group(1)}") if where else None
    plain = rows.get("md5 (short)")
    if not alone or not plain:
        return {}
    figures = rows[name]
    return {v: (figures[v] - alone[v]) / plain[v] for v in ("module", "pure")
            if figures.get(v) is not None and alone.get(v) is not None and plain.get(v)}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="only the operations whose name matches this regular expression")
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--write", metavar="FILE", help="write the figures into this markdown file")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.inside:
        run_inside(args.only, args.calls)
        return

    rows, loop = count(args.only, args.calls)
    text = markdown(rows, loop, args.calls)
    print(text)
    if args.write:
        import report

        report.write_sections(args.write, {"instructions": text})
        print(f"\nwritten to {args.write}")


if __name__ == "__main__":
    main()
