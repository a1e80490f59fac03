"""Every Python block of README.md runs as printed, each as a script of its own, and gives
the values that its comments show ("# 'hello'", "# b'gL~\\xf3...' (16 raw bytes)")."""

import pytest

from readme_blocks import blocks, claims, literal_claim, matches, run_python

PYTHON = blocks("python")


@pytest.mark.parametrize("block", PYTHON, ids=[b.id for b in PYTHON])
def test_python_block_runs_as_printed(block, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # blocks that write files write them here
    wanted, shown = run_python(block.text, f"README.md:{block.line}")
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
