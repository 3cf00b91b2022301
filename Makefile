# The front door: every target installs what is missing first, then builds
# with CMake and Ninja. `make run ARGS="--help"` passes arguments through.
BUILD      ?= build
ASAN_BUILD ?= build-asan
ARGS       ?=
JOBS       ?= $(shell nproc)

.PHONY: all bootstrap build run test test-asan bench clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/src/app/lumenvale $(ARGS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLUMENVALE_SANITIZE=ON -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L unit

# libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer; into
# build-fuzz/): each target in fuzz/ for FUZZ_SECONDS over a scratch copy of
# its seeds. Fails on any finding, kept in build-fuzz/fuzz-findings/.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	@scripts/bootstrap fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLUMENVALE_FUZZ=ON -DBUILD_TESTING=OFF -DLUMENVALE_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Microbenchmarks, then bench/compare: the device against nginx, openssl and
# vipsthumbnail in one run (installs those peers first; takes a few minutes).
bench: build
	@scripts/bootstrap bench
	@for b in $(BUILD)/bench/*_bench; do [ "$${b##*/}" = download_bench ] && continue; echo "== $$b"; $$b; done
	@bench/compare $(BUILD)
	@bench/pull_compare $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
	rm -rf $(FUZZ_BUILD)
