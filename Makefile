# The front door: every target installs what is missing first, then builds
# with CMake and Ninja. `make run ARGS="--help"` passes arguments through.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
ARGS       ?=
JOBS       ?= $(shell nproc)
# Every build directory compiles through ccache (installed by the
# bootstrap, so looked up only once a recipe runs), with paths taken
# relative to the checkout: a fresh clone, as CI makes, finds what an
# earlier one compiled.
LAUNCHER    = $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR  := $(CURDIR)
export CCACHE_NOHASHDIR := true

.PHONY: all bootstrap build run test test-asan bench clean package

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(LAUNCHER) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# A Debian package of everything `cmake --install` puts in place, for /usr,
# in $(BUILD)/; lintian must find no error and no warning in it.
package: build
	@cd $(BUILD) && cpack
	@lintian --fail-on error,warning $(BUILD)/lumenvale_*_amd64.deb

run: build
	@$(BUILD)/src/app/lumenvale $(ARGS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Every test once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# the real binary of the end-to-end tests included; not the kill-and-load
# runs (label "stress"), which `make test` runs and which would take five
# minutes under the sanitizers.
test-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) \
	  -DLUMENVALE_SANITIZE=ON -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE '^stress$$'

# The tests of the threaded parts (label "threads": the server, the hub, the
# stores, pairing, safety, the catalog) under ThreadSanitizer; the real
# binary they start is built with it too.
.PHONY: test-tsan stress
test-tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) \
	  -DLUMENVALE_TSAN=ON -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target lumenvale_threaded_tests
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L threads

# The load and crash runs at full length (every test run has short ones):
# STRESS_SECONDS of load, STRESS_KILLS kills of the real binary.
STRESS_SECONDS ?= 600
STRESS_KILLS   ?= 1000
stress: build
	@LUMENVALE_STRESS_SECONDS=$(STRESS_SECONDS) LUMENVALE_STRESS_KILLS=$(STRESS_KILLS) \
	  ctest --test-dir $(BUILD) --output-on-failure -L stress

# libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer; into
# build-fuzz/): each target in fuzz/ for FUZZ_SECONDS over a scratch copy of
# its seeds. Fails on any finding, kept in build-fuzz/fuzz-findings/.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	@scripts/bootstrap fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) \
	  -DLUMENVALE_FUZZ=ON -DBUILD_TESTING=OFF -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The thread rules: every program and library built with clang's
# thread-safety analysis, whose findings are errors (into build-threads/).
THREADS_BUILD ?= build-threads
.PHONY: check-threads
check-threads:
	@scripts/bootstrap fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(THREADS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) \
	  -DLUMENVALE_THREAD_SAFETY=ON -DBUILD_TESTING=OFF -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(THREADS_BUILD) -j $(JOBS)

# The house layout: every source not listed in scripts/format-pending
# follows .clang-format.
.PHONY: check-format
check-format:
	@scripts/bootstrap fuzz
	@scripts/check-format

# Microbenchmarks, then bench/compare: the device against nginx, openssl and
# vipsthumbnail in one run (installs those peers first; takes a few minutes),
# bench/pull_compare, and bench/picture_memory: the device's memory serving
# thumbnails of hostile pictures.
bench: build
	@scripts/bootstrap bench
	@for b in $(BUILD)/bench/*_bench; do case "$${b##*/}" in download_bench|picture_memory_bench) continue;; esac; echo "== $$b"; $$b; done
	@bench/compare $(BUILD)
	@bench/pull_compare $(BUILD)
	@bench/picture_memory $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
	rm -rf $(TSAN_BUILD)
	rm -rf $(FUZZ_BUILD) $(THREADS_BUILD)
