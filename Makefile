# Entry points for a fresh machine: `make demo` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
SANITIZER_FLAGS = -DZEMO_BENCH=OFF

.PHONY: all deps build web bench-web test test-plain test-install package demo test-asan test-tsan test-win64 win64 package-win64 bench bench-play-cpu bench-playback bench-render bench-vlc bench-join fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# What CI runs: the whole suite, then the Debian packages installed and
# purged, then the whole suite under ASan+UBSan, then the threaded tests
# under TSan, then the Win64 build's tests under Wine.
test: deps
	$(MAKE) test-plain
	$(MAKE) test-install
	$(MAKE) test-asan
	$(MAKE) test-tsan
	$(MAKE) test-win64

# The browser player: the frame reader in WebAssembly and the page, built
# with Debian's Emscripten into build-web/player (what `zemo3 view` serves).
web: deps
	NODE_PATH=/usr/share/nodejs emcmake cmake -S web -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
	NODE_PATH=/usr/share/nodejs cmake --build build-web -j $(JOBS)

# Every test but the packages' (test-install runs that one). Each leg keeps
# its whole ctest log in out/ (ctest-plain.log ...), so that a failed run
# names its test and shows what it printed.
test-plain: deps build web
	@mkdir -p out
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE install --output-log $(CURDIR)/out/ctest-plain.log

# The Debian packages into out/packages/ (scripts/build-deb.sh, docs/packages.md).
package: deps
	JOBS=$(JOBS) scripts/build-deb.sh

# The packages installed with dpkg, tried and purged (tests/install; as root).
test-install: deps build package
	@mkdir -p out
	cd $(BUILD) && ctest --output-on-failure -L install --output-log $(CURDIR)/out/ctest-install.log

demo: deps build
	@mkdir -p out
	$(BUILD)/tools/zemo3 render --demo -o out/demo.mov
	@echo "Play it (picture and sound): GST_PLUGIN_PATH=$(CURDIR)/$(BUILD)/gst gst-play-1.0 out/demo.mov"
	@echo "Or in VLC (cvlc: without a window; VLC does not run as root): VLC_PLUGIN_PATH=$(CURDIR)/$(BUILD)/vlc vlc out/demo.mov"

test-asan: deps
	$(MAKE) BUILD=build-asan CMAKE_FLAGS="-DZEMO_SANITIZE=address $(SANITIZER_FLAGS)" build
	@mkdir -p out
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE install --output-log $(CURDIR)/out/ctest-asan.log

# Only the test programs labelled "threads" (see cmake/Zemo.cmake).
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMO_SANITIZE=thread $(SANITIZER_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target tests_threads
	@mkdir -p out
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS) -L threads --output-log $(CURDIR)/out/ctest-tsan.log

# The module for the host on 64-bit Windows (build-win64/plugin), zemo3.exe and
# the test programs (build-win64/bin), cross-built with mingw-w64, with FFmpeg
# and cpp-httplib from Debian's source packages.
win64:
	@scripts/install-win64-deps.sh
	@scripts/build-ffmpeg-win64.sh
	httplib=$$(scripts/debian-source.sh cpp-httplib build-win64/httplib-src) && \
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZEMO_BENCH=OFF -DZEMO_HTTPLIB_INCLUDE=$$httplib >/dev/null
	cmake --build build-win64 -j $(JOBS)

# The Windows packages, from that build: an MSI and a zip into out/packages/.
package-win64: win64 web
	scripts/package-win64.sh

# The Win64 build's tests under Wine on a virtual screen, its renders against
# this machine's build, and the packages installed, used and removed
# (scripts/test-win64.sh).
test-win64: deps build package-win64
	JOBS=$(JOBS) xvfb-run -a -s "-screen 0 1024x768x24" scripts/test-win64.sh

# Every benchmark program but bench_play_cpu, which makes its own movies and
# has its own target below.
bench: deps build
	@for b in $(BUILD)/bench/bench_*; do \
	  [ "$${b##*/}" = bench_play_cpu ] && continue; echo "== $$b"; $$b --benchmark_min_time=0.2; done

# The player's CPU cost per frame, ours against HAP (bench/bench_play_cpu.cpp);
# SIZES, CONTENTS, TYPES, FRAMES and REPEAT choose what it runs.
bench-play-cpu: deps build
	$(BUILD)/bench/bench_play_cpu

# Decoding through the GStreamer element beside FFmpeg's HAP decoder.
bench-playback: deps build
	BUILD=$(BUILD) bench/playback.sh

# Decoding in VLC through the zemo3 module beside VLC's HAP decoding.
bench-vlc: deps build
	BUILD=$(BUILD) bench/vlc.sh

# Whole renders from raw and compressed sources beside FFmpeg.
bench-render: deps build
	BUILD=$(BUILD) bench/render.sh

# zemo3 join against a plain copy of its segments (bench/join.sh).
bench-join: deps build
	BUILD=$(BUILD) CONTENT=$(CONTENT) bench/join.sh

# Frames per second of the browser player per type, 1080p and 4K, GPU and
# CPU paths, beside zemo3 play --offscreen (bench/web.sh).
bench-web: deps build web
	BUILD=$(BUILD) bench/web.sh

# libFuzzer runs (clang, installed on demand): FUZZ_SECONDS per target.
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/fuzz.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz build-win64 build-web build-deb out
