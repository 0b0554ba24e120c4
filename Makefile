# Entry points for a fresh machine: `make demo` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all deps build test demo test-asan test-tsan bench clean

all: build

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: deps build
	@mkdir -p out
	$(BUILD)/tools/zemo3 render --demo -o out/demo.mov

test-asan: deps
	$(MAKE) BUILD=build-asan CMAKE_FLAGS="-DZEMO_SANITIZE=address" build
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	$(MAKE) BUILD=build-tsan CMAKE_FLAGS="-DZEMO_SANITIZE=thread" build
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/scripts/tsan.supp" ctest --output-on-failure -j $(JOBS)

bench: deps build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

clean:
	rm -rf build build-asan build-tsan out
