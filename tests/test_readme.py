"""Every Python block of README.md and of the documentation's pages runs as printed, each
as a script of its own, and gives the values that its comments show ("# 'hello'",
"# b'gL~\\xf3...' (16 raw bytes)"); the errors that the method pages list are the ones
the methods raise, at the lines they give."""

import re
import tomllib

import pytest

from method_cases import CASES
from readme_blocks import DOCS, ROOT, blocks, claims, literal_claim, matches, pages, run_python

PYTHON = [block for page in pages() for block in blocks("python", page)]


@pytest.mark.parametrize("block", PYTHON, ids=[b.id for b in PYTHON])
def test_python_block_runs_as_printed(block, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # blocks that write files write them here
    wanted, shown = run_python(block.text, f"{block.name}:{block.line}")
    wrong = {line: (claim.expected, shown.get(line, "(not reached)")) for line, claim in wanted.items()
             if line not in shown or not matches(claim, shown[line])}
    assert not wrong, {block.line + line - 1: pair for line, pair in wrong.items()}


def test_the_blocks_show_values():
    # The blocks of the operations show what they give; a change of the comment forms
    # that left them all unchecked would pass the test above.
    shown = sum(len(claims(block.text)) for block in PYTHON)
    assert len(PYTHON) >= 10 and shown >= 25


@pytest.mark.parametrize("comment, value", [
    ("# 'hello'", "hello"),
    ("# b'\\x10\\xae...' (16 raw bytes)", b"\x10\xae..."),
    ("# 'BA7816BF...'; sha1 alike", "BA7816BF..."),
    ("# {'user': 7}", {"user": 7}),
    ("# True", True),
    ("# 512", 512),
    ("# 16, 24 or 32 UTF-8 bytes: AES-128, -192, -256", None),
    ("# 16 UTF-8 bytes", None),
    ("# valid for ten minutes", None),
    ("# a token that never expires", None),
])
def test_which_comments_show_values(comment, value):
    assert literal_claim(comment) == value


def test_a_wrong_or_unreached_value_is_caught():
    source = "x = 1 + 1  # 3\nif x == 5:\n    x  # 5\n'abc'  # 'ab...'\n"
    wanted, shown = run_python(source, "example")
    assert [line for line, claim in wanted.items() if line in shown and matches(claim, shown[line])] == [4]
    assert set(wanted) - set(shown) == {3}


# ---- the error tables of the method pages ----------------------------------------------

# the family pages, and the contributors' page of the frame, which has the filler _add_to_16
METHOD_PAGES = ["ciphers.md", "encodings.md", "rsa.md", "tokens.md", "frame.md"]


def documented_errors(page):
    """[(method, exception, traceback entries)] for each row of the tables headed
    "Exception | When | Line" (or "Method | Exception | When | Line") of a method page.
    The method is the one of the heading above, or the row's first column; the entries
    are the method's line, then those of the "then `_add_to_16` 152" that may follow."""
    rows, methods, columns, fenced = [], [], None, False
    for line in (DOCS / page).read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            fenced = not fenced
        if fenced or not line.startswith("|"):
            columns = None
            if not fenced and line.startswith("#"):
                methods = re.findall(r"`(\w+)`", line)
            continue
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        if columns is None:
            columns = cells if "Exception" in cells else []
        elif columns and set("".join(cells)) - set("-: "):
            row = dict(zip(columns, cells))
            method = row["Method"].strip("`") if "Method" in row else methods[0]
            assert "Method" in row or len(methods) == 1, (page, line)
            entries = [(method, int(row["Line"].split(",")[0]))]
            entries += [(name, int(at)) for name, at in re.findall(r"then `(\w+)` (\d+)", row["Line"])]
            rows.append((method, re.fullmatch(r"`([\w.]+)`", row["Exception"]).group(1), tuple(entries)))
    return rows


def exception_name(error):
    return error.__name__ if error.__module__ == "builtins" else f"{error.__module__}.{error.__qualname__}"


DOCUMENTED = [(page, *row) for page in METHOD_PAGES for row in documented_errors(page)]


@pytest.mark.parametrize("page, method, error, entries", DOCUMENTED,
                         ids=[f"{method}-{error}-{entries[0][1]}" for _, method, error, entries in DOCUMENTED])
def test_documented_error_is_raised_there(page, method, error, entries):
    # The table of calls (tests/method_cases.py) is checked against the module by the
    # family tests; each documented row must be one of its failures: the same method,
    # exception and traceback entries.
    assert any(case.method == method and case.error is not None and exception_name(case.error) == error
               and case.entries == entries for case in CASES), (page, method, error, entries)


def test_every_method_has_its_errors_documented():
    methods = {case.method for case in CASES} - {"__init__"}
    assert {method for _, method, _, _ in DOCUMENTED} == methods


# ---- the dependency ranges that the pages state ------------------------------------------

# the names that the pages give the packages of pyproject.toml's dependencies
PACKAGES = {"pycryptodome": "PyCryptodome", "rsa": "python-rsa", "PyJWT": "PyJWT"}


def stated_ranges(page):
    """{package: [(floor, ceiling or None)]} of every "NAME X.Y or later[,] [before Z]" of
    `page`, tables and prose alike (lines joined, table cells taken as spaces)."""
    text = " ".join((ROOT / page).read_text(encoding="utf-8").replace("|", " ").split())
    return {name: re.findall(rf"{re.escape(shown)}(?: \(`\w+`\))? (\d+(?:\.\d+)*) or later(?:,? before (\d+))?", text)
            for name, shown in PACKAGES.items()}


@pytest.mark.parametrize("page", ["docs/packaging.md", "docs/migrating.md", "CHANGELOG.md"])
def test_pages_state_the_ranges_of_pyproject(page):
    requirements = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]["dependencies"]
    ranges = {re.match(r"[\w.-]+", r).group(0): re.search(r">=([\d.]+),<(\d+)", r).groups() for r in requirements}
    assert set(ranges) == set(PACKAGES)
    stated = stated_ranges(page)
    for name, (floor, ceiling) in ranges.items():
        assert stated[name], (page, name)  # each page names every package's range
        assert all(f == floor and c in ("", ceiling) for f, c in stated[name]), (page, name, stated[name], floor)
