# Entry points: `make demo` and `make test` (see README.md); `make install
# PREFIX=dir` installs the library, headers and the vorlin command.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE ?= cmake
CTEST ?= ctest
BUILD_ROOT ?= build

REL_DIR   := $(BUILD_ROOT)/rel
ASAN_DIR  := $(BUILD_ROOT)/asan
TSAN_DIR  := $(BUILD_ROOT)/tsan
BENCH_DIR := $(BUILD_ROOT)/bench
FUZZ_DIR  := $(BUILD_ROOT)/fuzz
FUZZ_SECONDS ?= 1800
FUZZ_JOBS ?= $(JOBS)
PREFIX ?= /usr/local
# Setup runs once per build folder, and again when the script changes.
SETUP_STAMP := $(BUILD_ROOT)/.setup-done

.PHONY: all setup build install test test-sanitize test-tsan demo bench clean fuzz-build fuzz-smoke fuzz

all: build

# Installs what a fresh machine lacks (nothing, on the supported image).
setup:
	@./scripts/setup.sh
	@mkdir -p $(BUILD_ROOT) && touch $(SETUP_STAMP)

$(SETUP_STAMP): scripts/setup.sh
	@./scripts/setup.sh
	@mkdir -p $(BUILD_ROOT) && touch $@

$(REL_DIR)/CMakeCache.txt: | $(SETUP_STAMP)
	$(CMAKE) -S . -B $(REL_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIN_WERROR=ON

build: $(REL_DIR)/CMakeCache.txt
	$(CMAKE) --build $(REL_DIR) -j $(JOBS)

install: build
	$(CMAKE) --install $(REL_DIR) --prefix $(PREFIX)

test: build
	cd $(REL_DIR) && $(CTEST) --output-on-failure -j $(JOBS)

test-sanitize: $(SETUP_STAMP)
	$(CMAKE) -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIN_WERROR=ON \
	  -DVORLIN_SANITIZE=address,undefined
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(CTEST) --output-on-failure -j $(JOBS)

test-tsan: $(SETUP_STAMP)
	$(CMAKE) -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIN_WERROR=ON \
	  -DVORLIN_SANITIZE=thread
	$(CMAKE) --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 \
	  $(CTEST) --output-on-failure -j $(JOBS) -L '^(engine|readers)$$'

# The Python package (python/): the extension and its files in build/rel/python.
.PHONY: python
python: $(REL_DIR)/CMakeCache.txt
	$(CMAKE) --build $(REL_DIR) -j $(JOBS) --target vorlin_python

# Builds only the vorlin program, then generates, imports, queries and renders
# a 2-million-point scene into ./demo-out.
demo: $(REL_DIR)/CMakeCache.txt
	$(CMAKE) --build $(REL_DIR) -j $(JOBS) --target vorlin_cli
	$(REL_DIR)/tools/cli/vorlin demo demo-out

# Release build in build/bench, import and query benchmarks on 20M points,
# Markdown summary of the medians. BENCH_WORK=DIR puts the ~2 GB of data
# elsewhere.
bench: $(SETUP_STAMP)
	./bench/run_all.sh $(or $(BENCH_WORK),$(BENCH_DIR)/work)

# libFuzzer targets (clang with the address and undefined-behaviour checks).
# fuzz-smoke runs each for a minute, fuzz for FUZZ_SECONDS each; FUZZ_JOBS
# targets run at once.
fuzz-build: $(SETUP_STAMP)
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE= -DVORLIN_FUZZ=ON \
	  -DVORLIN_BUILD_TOOLS=OFF
	$(CMAKE) --build $(FUZZ_DIR) -j $(JOBS) --target vorlin_fuzz

fuzz-smoke: fuzz-build
	FUZZ_JOBS=$(FUZZ_JOBS) ./tests/fuzz/run_fuzzers.sh $(FUZZ_DIR) 60

fuzz: fuzz-build
	FUZZ_JOBS=$(FUZZ_JOBS) ./tests/fuzz/run_fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_ROOT)
