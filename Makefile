# Thin wrapper over CMake. Every target first installs whatever is missing on a fresh
# Debian 12 machine (scripts/setup.sh), then configures and builds.
VARIANT ?= A
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Sanitizer builds leave the Qt window out: they check the core, the engine and the files.
SANITIZER_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DDRAVIK_WITH_GUI=OFF

.PHONY: all setup build run test test-asan test-tsan clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD) $(VARIANT)

# Every test: the ordinary build, then AddressSanitizer with UndefinedBehaviorSanitizer, then
# ThreadSanitizer over the same suites.
test: build test-asan test-tsan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B build-asan $(SANITIZER_FLAGS) -DDRAVIK_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

test-tsan: setup
	cmake -S . -B build-tsan $(SANITIZER_FLAGS) -DDRAVIK_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan build-tsan
