# Entry points for a fresh machine: `make demo` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
SANITIZER_FLAGS = -DZEMO_BENCH=OFF

.PHONY: all deps build test test-plain demo test-asan test-tsan bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# What CI runs: the whole suite, then the whole suite under ASan+UBSan, then
# the threaded tests under TSan.
test: deps
	$(MAKE) test-plain
	$(MAKE) test-asan
	$(MAKE) test-tsan

test-plain: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: deps build
	@mkdir -p out
	$(BUILD)/tools/zemo3 render --demo -o out/demo.mov

test-asan: deps
	$(MAKE) BUILD=build-asan CMAKE_FLAGS="-DZEMO_SANITIZE=address $(SANITIZER_FLAGS)" build
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# Only the test programs labelled "threads" (see cmake/Zemo.cmake).
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMO_SANITIZE=thread $(SANITIZER_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target tests_threads
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS) -L threads

bench: deps build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

# libFuzzer runs (clang, installed on demand): FUZZ_SECONDS per target.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/fuzz.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz out
