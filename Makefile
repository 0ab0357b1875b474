# Two entry points for a fresh Debian machine: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
CORE_BUILD ?= build-core
# Seconds per fuzz target: `make fuzz` runs each this long; `make test` runs
# each briefly on the committed seeds.
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 20
# Minutes of `make soak`.
SOAK_MINUTES ?= 20
FUZZ_TARGETS := settings_text_fuzz image_frame_fuzz kernels_fuzz
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: soak deps configure build run test test-release test-asan test-core test-fuzz fuzz fuzz-build check-style bench bench-motion clean screenshots package

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds only the program (not the tests and benchmarks) before starting it.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target stirwatch
	./$(BUILD)/app/stirwatch

# Not part of `make test`: automatic mode at 10 ms on the test scene with the
# log and "Record On Move" for SOAK_MINUTES, printing memory, descriptors and
# threads per 10,000 steps and their growth at the end.
soak: configure
	cmake --build $(BUILD) -j $(JOBS) --target stirwatch_soak
	SOAK_MINUTES=$(SOAK_MINUTES) ./$(BUILD)/bench/stirwatch_soak

test-release: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSTIRWATCH_SANITIZE=ON -DSTIRWATCH_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DSTIRWATCH_FUZZ=ON -DSTIRWATCH_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do ./scripts/run-fuzz.sh $(FUZZ_BUILD) $$t $(FUZZ_SECONDS) || exit 1; done

test-fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do ./scripts/run-fuzz.sh $(FUZZ_BUILD) $$t $(FUZZ_SMOKE_SECONDS) || exit 1; done

# The core alone (no widgets, no GStreamer; CMake finds only QtCore): proves
# that the core does not depend on the GUI.
test-core: deps
	cmake -S . -B $(CORE_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIRWATCH_CORE_ONLY=ON
	cmake --build $(CORE_BUILD) -j $(JOBS)
	cd $(CORE_BUILD) && ctest --output-on-failure -j $(JOBS)

# clang-format clean tracked sources, and clang-tidy (.clang-tidy) on the
# program's own sources with the release build's compile database.
check-style: build
	./scripts/check-style.sh $(BUILD) $(JOBS)

# Every stage, in order, each with the time it took.
TEST_STAGES := test-core test-release test-asan test-fuzz check-style
test:
	@for stage in $(TEST_STAGES); do \
	    start=$$(date +%s); \
	    $(MAKE) --no-print-directory $$stage || exit 1; \
	    echo "== $$stage took $$(( $$(date +%s) - start )) s"; \
	done

# OpenCV is installed for the comparison rows of the analysis and scan benchmarks only,
# and Debian's Motion daemon for the side-by-side run of bench-motion only.
# The scan benchmark makes its two recordings once, in $(BUILD)/scan-bench-clips.
bench:
	./scripts/install-deps.sh libopencv-dev motion
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIRWATCH_BENCH=ON \
		-DSTIRWATCH_BENCH_OPENCV=ON
	cmake --build $(BUILD) -j $(JOBS) --target stirwatch_bench stirwatch_engine_bench stirwatch_app_bench \
		stirwatch_scan_bench
	./$(BUILD)/bench/stirwatch_bench
	./$(BUILD)/bench/stirwatch_engine_bench
	./$(BUILD)/bench/stirwatch_app_bench
	./$(BUILD)/bench/stirwatch_scan_bench $(BUILD)/scan-bench-clips
	$(MAKE) --no-print-directory bench-motion

# The whole program next to the Motion daemon (Debian's `motion`, installed for
# this benchmark only) on four recordings it makes once in $(BUILD)/motion-bench-clips:
# CPU and memory from /proc, medians of interleaved rounds, met/MISSED per target.
# BENCH_MOTION_ARGS passes options, e.g. "--rounds 1 --only 640x480 --offscreen".
BENCH_MOTION_ARGS ?=
bench-motion:
	./scripts/install-deps.sh motion
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIRWATCH_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS) --target stirwatch_watch_run
	./scripts/bench-motion.py $(BUILD)/bench/stirwatch_watch_run $(BUILD)/motion-bench-clips \
		$(BENCH_MOTION_ARGS)

# Screenshots of every window, taken by the end-to-end run on Xvfb, for the README.
screenshots: build
	cd $(BUILD) && STIRWATCH_SCREENSHOT_DIR=$(CURDIR)/docs/screenshots ctest -R e2e_tests --output-on-failure

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(CORE_BUILD) $(FUZZ_BUILD)

# A Debian package of the program in $(BUILD)/.
package: build
	cd $(BUILD) && cpack -G DEB
