# `make run` builds the module and runs the quickstart; `make test` builds
# everything and runs every test. Both install what is missing first.
# `make fuzz SECONDS=600` runs every fuzz target for that long (clang-19 and
# libFuzzer, installed when missing). `make bench` runs every benchmark, the
# C++ ones and then bench/bench_python.py.

VENV     := .venv
PY       := $(VENV)/bin/python
CMAKE    := $(VENV)/bin/cmake
JOBS     ?= $(shell nproc)
BUILD    := build
ASAN     := build-asan
BENCHDIR := build-bench
FUZZDIR  := build-fuzz
SECONDS  ?= 60
# The build tree of a plain `pip install .`, kept so that reinstalling is
# incremental (`make module` keeps its own under $(BUILD)).
PYBUILD  := build-py
# Lets build directories of different checkouts share ccache's results.
export CCACHE_BASEDIR ?= $(CURDIR)
CMAKE_FLAGS := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja)
# The test build compiles the benchmarks too, so that a change cannot leave
# them broken until the next `make bench`.
RELEASE_FLAGS := $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DMORVIK_BENCH=ON

.PHONY: deps build build-asan module workspace-tool run test test-cpp test-asan test-python bench fuzz clean

deps:
	@scripts/deps.sh

build: deps
	@$(CMAKE) -S . -B $(BUILD) $(RELEASE_FLAGS) >/dev/null
	@$(CMAKE) --build $(BUILD) -j $(JOBS)

build-asan: deps
	@$(CMAKE) -S . -B $(ASAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DMORVIK_SANITIZE=ON >/dev/null
	@$(CMAKE) --build $(ASAN) -j $(JOBS)

# The extension module, installed into the venv exactly as `pip install .`
# installs it for a user; the venv already has the build requirements. It
# links the release build's libraries rather than compiling them again, and
# keeps its own build tree beside them.
module: deps
	@$(CMAKE) -S . -B $(BUILD) $(RELEASE_FLAGS) >/dev/null
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target morvik_frontend
	@CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) -m pip install -q --no-build-isolation --no-deps \
	  -C build-dir=$(abspath $(BUILD))/python/{wheel_tag} \
	  -C cmake.define.MORVIK_LIBRARIES_FROM=$(abspath $(BUILD)) .

# The workspace builder, a test tool that lays out throwaway workspaces for
# the quickstart and the Python benchmark; only it is built.
WORKSPACE_TOOL := $(BUILD)/tests/cpp/tools/frontend_workspace_tool
workspace-tool: deps
	@$(CMAKE) -S . -B $(BUILD) $(RELEASE_FLAGS) >/dev/null
	@$(CMAKE) --build $(BUILD) -j $(JOBS) --target frontend_workspace_tool

run: module workspace-tool
	@$(PY) examples/quickstart.py --builder $(WORKSPACE_TOOL)

test-cpp: build
	@JOBS=$(JOBS) scripts/run-cpp-tests.sh $(BUILD)
	@scripts/replay-fuzz-corpus.sh $(BUILD)

test-asan: build-asan
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 JOBS=$(JOBS) scripts/run-cpp-tests.sh $(ASAN)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 scripts/replay-fuzz-corpus.sh $(ASAN)

test-python: build module
	@scripts/run-python-tests.sh

test: test-cpp test-asan test-python

# The C++ benchmarks, then the Python one with the tools it compares the
# module with (the `bench` extra).
BENCH_EXTRA = $(shell $(PY) -c 'import tomllib; print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["bench"])')
bench: deps module workspace-tool
	@$(CMAKE) -S . -B $(BENCHDIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF -DMORVIK_BENCH=ON >/dev/null
	@$(CMAKE) --build $(BENCHDIR) -j $(JOBS)
	@for b in $(BENCHDIR)/bench/bench_*; do echo "== $$b"; $$b || exit 1; done
	@$(PY) -m pip install -q $(BENCH_EXTRA)
	@echo "== bench/bench_python.py"
	@$(PY) bench/bench_python.py --builder $(WORKSPACE_TOOL)

fuzz:
	@scripts/fuzz.sh $(SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN) $(BENCHDIR) $(FUZZDIR) $(PYBUILD)
