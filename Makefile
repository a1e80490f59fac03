# make demo: build, then run examples/demo.py.   make test: build, then run the tests.
# make bench: build, then time every operation against the pure-Python class and the
# inline calls (bench/run.py; writes bench/results.md and bench/scaling.png).
# make bench-instr: instructions per call under valgrind's callgrind (bench/instr.py).
# Both set up everything on a fresh machine: a CPython 3.13 virtual environment in
# .venv with the build tools, the test tools and the module's dependencies; make test
# also installs the programs that tests/peers talks to (php-cli, php-mbstring, openssl)
# with apt-get when they are missing and it runs as root.
# make dist: builds the sdist and the wheel, and installs the wheel into a new venv.
# PYTHON=/path/to/python3.13 overrides the interpreter that is found.

PYTHON ?= $(shell tools/find-python)
VENV := .venv
PY := $(VENV)/bin/python
DEPS := $(VENV)/.deps
BUILT := $(VENV)/.built
BENCH_DEPS := $(VENV)/.bench-deps
SOURCES := $(shell find src -name '*.cpp' -o -name '*.h') CMakeLists.txt pyproject.toml crypt_main.pyi

.PHONY: all build demo peers test dist bench bench-instr clean

all: build

$(PY):
	@test -n "$(PYTHON)" || { echo "no CPython 3.13 found: set PYTHON=" >&2; exit 1; }
	$(PYTHON) -m venv $(VENV)

$(DEPS): $(PY) requirements-dev.txt
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	touch $@

$(BUILT): $(DEPS) $(SOURCES)
	$(PY) -m pip install -q --no-build-isolation .
	touch $@

build: $(BUILT)

demo: build
	$(PY) examples/demo.py

peers:
	@tools/install-peers

test: build peers
	$(PY) -m pytest -q tests

dist: $(DEPS)
	tools/check-dist $(PYTHON) $(PY)

$(BENCH_DEPS): $(DEPS) bench/requirements.txt
	$(PY) -m pip install -q -r bench/requirements.txt
	touch $@

# BENCH_ARGS: extra arguments, e.g. BENCH_ARGS="--only md5 --no-scaling" or "--quick".
bench: build $(BENCH_DEPS)
	$(PY) bench/run.py --write bench/results.md $(BENCH_ARGS)

bench-instr: build
	@command -v valgrind >/dev/null || { apt-get update -q && apt-get install -y -q valgrind; }
	$(PY) bench/instr.py --write bench/results.md $(BENCH_ARGS)

clean:
	rm -rf $(VENV) build dist *.egg-info bench/.build
