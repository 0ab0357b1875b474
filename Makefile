# Two entry points for a fresh Debian machine: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
CORE_BUILD ?= build-core
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: deps configure build run test test-release test-asan test-core bench clean screenshots package

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

test-release: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSTIRWATCH_SANITIZE=ON -DSTIRWATCH_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The core alone (no widgets, no GStreamer; CMake finds only QtCore): proves
# that the core does not depend on the GUI.
test-core: deps
	cmake -S . -B $(CORE_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIRWATCH_CORE_ONLY=ON
	cmake --build $(CORE_BUILD) -j $(JOBS)
	cd $(CORE_BUILD) && ctest --output-on-failure -j $(JOBS)

test: test-core test-release test-asan

# OpenCV is installed for the comparison rows of the analysis benchmark only.
bench:
	./scripts/install-deps.sh libopencv-dev
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTIRWATCH_BENCH=ON \
		-DSTIRWATCH_BENCH_OPENCV=ON
	cmake --build $(BUILD) -j $(JOBS) --target stirwatch_bench stirwatch_app_bench
	./$(BUILD)/bench/stirwatch_bench
	./$(BUILD)/bench/stirwatch_app_bench

# Screenshots of every window, taken by the end-to-end run on Xvfb, for the README.
screenshots: build
	cd $(BUILD) && STIRWATCH_SCREENSHOT_DIR=$(CURDIR)/docs/screenshots ctest -R e2e_tests --output-on-failure

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(CORE_BUILD)

# A Debian package of the program in $(BUILD)/.
package: build
	cd $(BUILD) && cpack -G DEB
