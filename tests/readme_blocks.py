"""The fenced code blocks of README.md, of the other pages at the top of the source tree
(CONTRIBUTING.md, SECURITY.md, CHANGELOG.md) and of the documentation's pages (docs/),
for the tests that run them as printed."""

import ast
import dataclasses
import io
import pathlib
import tokenize

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
# the other pages at the top of the tree; docs/ includes them in the site
TOP_PAGES = [ROOT / name for name in ("CONTRIBUTING.md", "SECURITY.md", "CHANGELOG.md")]
DOCS = ROOT / "docs"


def pages():
    """README.md, the other pages at the top of the tree, and every Markdown page of
    docs/, the README first."""
    return [README, *TOP_PAGES, *sorted(DOCS.rglob("*.md"))]


@dataclasses.dataclass
class Block:
    heading: str  # the heading above the block
    line: int  # line number in its file of the block's first line
    text: str
    path: pathlib.Path = README

    @property
    def name(self):
        """The file's path from the top of the source tree: "README.md", "docs/rsa.md"."""
        return self.path.relative_to(ROOT).as_posix()

    @property
    def id(self):
        return f"{self.heading}:{self.line}" if self.path == README else f"{self.name}:{self.heading}:{self.line}"


def _outside_fences(lines):
    """(index, line) of each line that is not inside a fenced block, the fences included."""
    i = 0
    while i < len(lines):
        yield i, lines[i]
        if lines[i].startswith("```"):
            fence = lines[i][: len(lines[i]) - len(lines[i].lstrip("`"))]
            i = next((j for j in range(i + 1, len(lines)) if lines[j].startswith(fence)), len(lines))
        i += 1


def _level(line):
    """The level of a Markdown heading line (1 for "# ..."), 0 for any other line."""
    hashes = len(line) - len(line.lstrip("#"))
    return hashes if hashes and line[hashes : hashes + 1] == " " else 0


def blocks(language, path=README):
    """Every block of `path` (README.md unless given) fenced as ```language, in order."""
    path = pathlib.Path(path)
    lines = path.read_text(encoding="utf-8").splitlines()
    found, heading = [], ""
    for i, line in _outside_fences(lines):
        if _level(line):
            heading = line.lstrip("#").strip()
        elif line.startswith("```") and line[3:].strip() == language:
            end = next(j for j in range(i + 1, len(lines)) if lines[j].startswith("```"))
            found.append(Block(heading, i + 2, "\n".join(lines[i + 1 : end]) + "\n", path))
    return found


def section(heading, path=README):
    """The text under the heading `heading` of `path` (of any level), up to the next heading
    of that level or above, on one line."""
    lines = pathlib.Path(path).read_text(encoding="utf-8").splitlines()
    outside = list(_outside_fences(lines))
    start, level = next((i, _level(line)) for i, line in outside
                        if _level(line) and line.lstrip("#").strip() == heading)
    end = next((i for i, line in outside if i > start and 0 < _level(line) <= level), len(lines))
    return " ".join(" ".join(lines[start:end]).split())


# ---- what the comments of a Python block say a statement gives ---------------------------

@dataclasses.dataclass
class Claim:
    line: int  # the statement's first line, within the block
    expected: object
    prefix: bool  # the comment ends its text or bytes in "...": only the start is shown


def literal_claim(comment):
    """The value that a comment shows, or None: the comment starts with a Python literal
    (not a tuple) that is all of it or is followed by a remark in parentheses, or by ":"
    or ";" and more text. "# 'abc'", "# b'\\x00...' (16 bytes)", "# True" show values;
    "# 16 UTF-8 bytes" and "# valid for ten minutes" do not."""
    text = comment.lstrip("#").strip()
    for end in range(len(text), 0, -1):
        rest = text[end:]
        if rest and not (rest.lstrip().startswith("(") and rest[0].isspace()) and rest[0] not in ";:":
            continue
        try:
            value = ast.literal_eval(text[:end])
        except (ValueError, SyntaxError, TypeError, MemoryError, RecursionError):
            continue
        if isinstance(value, tuple):
            return None
        return value
    return None


def claims(source):
    """{line of the statement: Claim} for every statement whose value a comment shows: a
    comment on the statement's last line, or alone on the line right after it."""
    comments = {}
    own_line = set()
    for token in tokenize.generate_tokens(io.StringIO(source).readline):
        if token.type == tokenize.COMMENT:
            comments[token.start[0]] = token.string
            if not token.line[: token.start[1]].strip():
                own_line.add(token.start[0])
    found = {}
    for node in ast.walk(ast.parse(source)):
        if not isinstance(node, (ast.Expr, ast.Assign)):
            continue
        end = node.end_lineno
        comment = comments.get(end) if end not in own_line else None
        if comment is None and end + 1 in own_line:
            comment = comments[end + 1]
        if comment is None:
            continue
        value = literal_claim(comment)
        if value is None:
            continue
        prefix = isinstance(value, (str, bytes)) and value.endswith("..." if isinstance(value, str) else b"...")
        found[node.lineno] = Claim(node.lineno, value[:-3] if prefix else value, prefix)
    return found


class _Instrument(ast.NodeTransformer):
    """Hands the value of each claimed statement to __shows__(line, value)."""

    def __init__(self, lines):
        self.lines = lines

    def _shows(self, line, value):
        call = ast.Call(ast.Name("__shows__", ast.Load()), [ast.Constant(line), value], [])
        return ast.Expr(call)

    def visit_Expr(self, node):
        if node.lineno in self.lines:
            return ast.copy_location(self._shows(node.lineno, node.value), node)
        return node

    def visit_Assign(self, node):
        if node.lineno in self.lines:
            if len(node.targets) != 1 or not isinstance(node.targets[0], ast.Name):
                raise AssertionError(f"line {node.lineno}: a shown value needs one plain name to assign")
            shown = self._shows(node.lineno, ast.Name(node.targets[0].id, ast.Load()))
            return [node, ast.copy_location(shown, node)]
        return node


def run_python(source, filename):
    """Runs `source` as one script in a fresh namespace; returns ({line: Claim}, {line:
    value shown}) for the statements whose value a comment shows."""
    wanted = claims(source)
    tree = ast.fix_missing_locations(_Instrument(set(wanted)).visit(ast.parse(source)))
    shown = {}
    namespace = {"__name__": "__readme__", "__shows__": lambda line, value: shown.setdefault(line, value)}
    exec(compile(tree, filename, "exec"), namespace)
    return wanted, shown


def matches(claim, value):
    if claim.prefix:
        return type(value) is type(claim.expected) and value.startswith(claim.expected)
    return type(value) is type(claim.expected) and value == claim.expected
