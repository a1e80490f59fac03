"""Sphinx configuration of the documentation: Markdown pages (MyST), the furo theme."""

import pathlib
import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
_project = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))["project"]

project = _project["name"]
author = "The crypt_main developers"
copyright = "the crypt_main developers (MIT licence)"
release = version = _project["version"]

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["requirements.txt"]

# Headings of levels 1 to 3 get anchors, so that pages can link to a method's section
# (`rsa.md#rsa_decrypt`, as index.md links them).
myst_heading_anchors = 3
# Every reference must resolve: `make docs` treats warnings as errors.
nitpicky = True

html_theme = "furo"
html_title = f"crypt_main {release}"
html_show_sourcelink = False
html_copy_source = False
