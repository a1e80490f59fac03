"""Tables for the terminal and for results.md, the scaling plot, and the targets."""

import os
import platform
import re
import subprocess
import sys

DIGESTS = {"md5", "sha1", "sha256", "sha384", "sha512"}
BASE64 = {"base64", "base64_decrypt"}


def pure_target(case):
    """The highest module/pure-Python ratio that the case may have. A failing call
    costs no more than in Python; a binding failure may carry 10 % more, for the
    traceback entry at the definition line that Python's own binding failure lacks."""
    if case.error:
        return 1.1 if case.label.endswith("binding") else 1.0
    if "rebound" in case.label:
        return None  # judged by instructions: the call after the rebinding (bench/check.py)
    return 0.85 if case.op in DIGESTS | BASE64 | {"md5_hmac"} else 1.0


def inline_target(case):
    """The highest module/inline ratio, for the operations that have one."""
    return 1.0 if case.op in DIGESTS | BASE64 and not case.error else None


def load():
    try:
        return " ".join(f"{x:.2f}" for x in os.getloadavg())
    except OSError:
        return "?"


def machine():
    cpu = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            found = re.search(r"model name\s*:\s*(.*)", f.read())
            cpu = found.group(1) if found else cpu
    except OSError:
        pass
    packages = {}
    for name in ("pycryptodome", "rsa", "PyJWT"):
        try:
            from importlib.metadata import version

            packages[name] = version(name)
        except Exception:
            packages[name] = "?"
    try:
        compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    except Exception:
        compiler = "?"
    return {
        "machine": f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}",
        # the interpreter's version and build, not its path: the file is published
        "python": f"{platform.python_implementation()} {platform.python_version()}"
                  f"{' (debug build)' if hasattr(sys, 'gettotalrefcount') else ''}",
        "packages": ", ".join(f"{k} {v}" for k, v in packages.items()),
        "compiler": compiler,
        "load before": load(),
    }


def machine_text(info):
    return "\n".join(f"{k}: {v}" for k, v in info.items()) + "\n"


def machine_markdown(info):
    return "\n".join(f"- {k}: {v}" for k, v in info.items())


OPERATION_HEADER = (f"{'operation':40} {'module':>10} {'pure':>10} {'inline':>10} {'mod/pure':>9} {'mod/inl':>8}"
                    f" {'noise':>6}")


def noise(figures):
    """Half the difference between the ratios of the odd and of the even rounds (the
    larger of the two ratios): how far a ratio moves from one half of the run to the other."""
    halves = figures.get("halves")
    if not halves:
        return 0.0
    spread = []
    for other in ("pure", "inline"):
        if other not in halves[0]:
            continue
        a, b = (h["module"] / h[other] for h in halves)
        spread.append(abs(a - b) / 2)
    return max(spread)


def ns(value):
    if value is None:
        return "n/a"
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def flags(case, figures):
    """'!' marks a ratio above its target by more than the noise, '~' one above it by less."""
    pure = figures["module"] / figures["pure"]
    inline = figures["module"] / figures["inline"] if "inline" in figures else None
    spread = noise(figures)

    def mark(ratio, target):
        if ratio is None or target is None or ratio <= target:
            return " "
        return "!" if ratio > target + spread else "~"

    return pure, mark(pure, pure_target(case)), inline, mark(inline, inline_target(case))


def ratio_text(ratio, width=0):
    return f"{ratio:{width}.2f}" if ratio is not None else f"{'n/a':>{width}}"


def operation_line(case, figures):
    pure, bad_pure, inline, bad_inline = flags(case, figures)
    return (f"{case.name:40} {ns(figures['module']):>10} {ns(figures['pure']):>10} "
            f"{ns(figures.get('inline')):>10} {pure:8.2f}{bad_pure} {ratio_text(inline, 7)}{bad_inline} "
            f"{noise(figures):6.3f}")


def summary_text(rows):
    missed, near = [], []
    for case, figures in rows:
        if figures is None:
            continue
        pure, bad_pure, inline, bad_inline = flags(case, figures)
        for bad, text in ((bad_pure, f"{case.name}: module/pure {pure:.2f} > {pure_target(case)}"),
                          (bad_inline, f"{case.name}: module/inline {ratio_text(inline)} > {inline_target(case)}")):
            if bad == "!":
                missed.append(text)
            elif bad == "~":
                near.append(text)
    lines = ["targets missed (marked !, by more than the noise):"] + [f"  {m}" for m in missed] if missed else [
        "every target met, or missed by less than the noise"]
    if near:
        lines += ["above the target by less than the noise (marked ~):"] + [f"  {m}" for m in near]
    skipped = [case.name for case, figures in rows if figures is None]
    if skipped:
        lines.append("not measured (no body yet): " + ", ".join(skipped))
    return "\n".join(lines)


def operations_markdown(rows):
    lines = [
        "| operation | module ns | pure-Python ns | inline ns | module/pure | module/inline | noise |",
        "|---|---:|---:|---:|---:|---:|---:|",
    ]
    for case, figures in rows:
        if figures is None:
            lines.append(f"| {case.name} | not implemented yet | | | | | |")
            continue
        pure, bad_pure, inline, bad_inline = flags(case, figures)
        mark = lambda bad: {"!": " **(!)**", "~": " (~)"}.get(bad, "")  # noqa: E731
        lines.append(
            f"| {case.name} | {ns(figures['module'])} | {ns(figures['pure'])} | {ns(figures.get('inline'))} "
            f"| {pure:.2f}{mark(bad_pure)} | {ratio_text(inline)}{mark(bad_inline)} | {noise(figures):.3f} |")
    return "\n".join(lines)


def frame_text(figures, loop):
    width = max(map(len, figures))
    lines = [f"{'frame':{width}} {'ns/call':>9} {'net of loop':>12}"]
    for name, value in figures.items():
        lines.append(f"{name:{width}} {value:9.1f} {value - loop:12.1f}")
    lines.append(f"{'empty loop':{width}} {loop:9.1f}")
    lines += [f"{label}: {value:.2f}" for label, value in frame_ratios(figures, loop)]
    return "\n".join(lines)


def frame_ratios(figures, loop):
    net = {k: v - loop for k, v in figures.items()}
    return [
        ("init(m) / id(m) (target <= 1.5)", figures["init(m)"] / figures["id(m)"]),
        ("  the same, net of the loop", net["init(m)"] / net["id(m)"]),
        ("init(self=m) / init(m) (target <= 1.3)", figures["init(self=m)"] / figures["init(m)"]),
        ("  the same, net of the loop", net["init(self=m)"] / net["init(m)"]),
        ("init(m) / pure init(m)", figures["init(m)"] / figures["pure init(m)"]),
        ("init(self=m) / pure init(self=m)", figures["init(self=m)"] / figures["pure init(self=m)"]),
        ("init() fails / pure init() fails", figures["init() fails"] / figures["pure init() fails"]),
    ]


def frame_markdown(figures, loop):
    lines = ["| statement | ns per call | net of the loop |", "|---|---:|---:|"]
    for name, value in figures.items():
        lines.append(f"| `{name}` | {value:.1f} | {value - loop:.1f} |")
    lines.append(f"| empty loop | {loop:.1f} | |")
    lines += ["", "| ratio | value |", "|---|---:|"]
    lines += [f"| {label.strip()} | {value:.2f} |" for label, value in frame_ratios(figures, loop)]
    return "\n".join(lines)


def size_text(size):
    for unit, step in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= step:
            return f"{size // step} {unit}"
    return f"{size} B"


def scaling_markdown(rows, plot):
    ops = list(dict.fromkeys(op for op, _, _ in rows))
    sizes = list(dict.fromkeys(size for _, size, _ in rows))
    table = {(op, size): f for op, size, f in rows}

    def size_table(title, cell):
        lines = ["", title, "", "| size | " + " | ".join(ops) + " |", "|---|" + "---:|" * len(ops)]
        for size in sizes:
            cells = [cell(table[op, size]) if (op, size) in table else "" for op in ops]
            lines.append(f"| {size_text(size)} | " + " | ".join(cells) + " |")
        return lines

    lines = [f"![module/inline and module/pure against input size]({plot})"]
    lines += size_table("module/inline (module/pure in brackets):",
                        lambda f: f"{f['module'] / f['inline']:.2f} ({f['module'] / f['pure']:.2f})")
    lines += size_table("ns per call (module / inline):", lambda f: f"{ns(f['module'])} / {ns(f['inline'])}")
    return "\n".join(lines)


def plot_scaling(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    ops = list(dict.fromkeys(op for op, _, _ in rows))
    for i, op in enumerate(ops):
        points = [(size, f) for o, size, f in rows if o == op]
        sizes = [s for s, _ in points]
        color = f"C{i}"
        ax.plot(sizes, [f["module"] / f["inline"] for _, f in points], "o-", color=color,
                label=f"{op}: module/inline")
        ax.plot(sizes, [f["module"] / f["pure"] for _, f in points], "x--", color=color, alpha=0.6,
                label=f"{op}: module/pure")
    ax.axhline(1.0, color="grey", linewidth=0.8)
    ax.set_xscale("log", base=2)
    ax.set_xlabel("input size (bytes of text)")
    ax.set_ylabel("time ratio")
    ax.set_title("crypt_main against the same calls inline and the pure-Python class")
    ax.legend(fontsize=7, ncol=2)
    ax.grid(True, which="major", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def write_sections(path, sections):
    """Replaces the generated sections of `path` (between <!-- begin:NAME --> and
    <!-- end:NAME -->), keeping the text around them; missing sections are appended."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        text = "# Benchmark results\n"
    for name, body in sections.items():
        begin, end = f"<!-- begin:{name} -->", f"<!-- end:{name} -->"
        block = f"{begin}\n{body}\n{end}"
        pattern = re.compile(re.escape(begin) + r".*?" + re.escape(end), re.S)
        if pattern.search(text):
            text = pattern.sub(lambda _: block, text)
        else:
            text = text.rstrip("\n") + f"\n\n## {name}\n\n{block}\n"
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
