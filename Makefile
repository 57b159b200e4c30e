# Thin wrapper over CMake. Every target first installs whatever is missing on a fresh
# Debian 12 machine (scripts/setup.sh), then configures and builds.
VARIANT ?= A
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# `make test` treats warnings as errors, in every build it makes; `make build` and `make run`
# leave the choice to the build folder (off in a new one), so another compiler's warning never
# stops a user's build.
WERROR ?=
test: WERROR = ON
# Sanitizer builds leave the Qt window out: they check the core, the engine and the files.
# Line tables (-g1) are all their reports need, and compile faster than full debug info.
SANITIZER_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DDRAVIK_WITH_GUI=OFF -DDRAVIK_WERROR=ON

# The Windows build, cross-compiled with MinGW-w64. -O2 as on Linux: GCC 12 at -O3 warns
# falsely (-Wrestrict) inside std::string.
WINDOWS_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"

.PHONY: all setup build run test test-asan test-tsan test-fuzz test-windows windows fuzz package \
  screenshot bench clean
# How long each fuzz target runs: a few seconds in `make test`, minutes in `make fuzz`.
FUZZ_SECONDS ?= 300
FUZZ_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DDRAVIK_FUZZ=ON -DDRAVIK_WERROR=ON

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(if $(WERROR),-DDRAVIK_WERROR=$(WERROR))
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD) $(VARIANT)

# Every test: the Windows build's under Wine, AddressSanitizer with UndefinedBehaviorSanitizer,
# ThreadSanitizer, a short run of each fuzz target, then the ordinary build with the window and
# the package (whose tests also run the Windows unit tool under Wine against the Linux engine).
test: build test-windows test-asan test-tsan test-fuzz
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# build-windows/: the core, dravik-unit.exe and the core's test programs for 64-bit Windows,
# each one statically linked .exe.
windows: setup
	cmake -S . -B build-windows $(WINDOWS_FLAGS) $(if $(WERROR),-DDRAVIK_WERROR=$(WERROR))
	cmake --build build-windows -j $(JOBS)

# The Windows test programs under Wine, in a prefix of their own in build-windows/ (made on
# first use, about 5 s), without a display.
test-windows: windows
	cd build-windows && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B build-asan $(SANITIZER_FLAGS) -DDRAVIK_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

test-tsan: setup
	cmake -S . -B build-tsan $(SANITIZER_FLAGS) -DDRAVIK_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test-fuzz: setup
	cmake -S . -B build-fuzz $(FUZZ_FLAGS) -DDRAVIK_FUZZ_SECONDS=5
	cmake --build build-fuzz -j $(JOBS)
	cd build-fuzz && ctest --output-on-failure

fuzz: setup
	cmake -S . -B build-fuzz $(FUZZ_FLAGS) -DDRAVIK_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build build-fuzz -j $(JOBS)
	cd build-fuzz && ctest --output-on-failure --timeout $$(( $(FUZZ_SECONDS) + 120 ))

# In the build folder: dravik_<version>_amd64.deb and the portable
# dravik-<version>-linux-x86_64.tar.gz; beside them, from the Windows build, the portable
# dravik-<version>-windows-x64.zip and the installer dravik-<version>-setup.exe.
package: build windows
	cd $(BUILD) && cpack --config CPackConfig.cmake
	cmake --build build-windows --target windows-packages
	cp build-windows/dravik-*-windows-x64.zip build-windows/dravik-*-setup.exe $(BUILD)/

# docs/screenshot-a.png and -b.png, made under Xvfb in a network namespace of their own.
screenshot: build
	bash scripts/screenshot.sh $(BUILD)

# The monitor core against a minimal epoll server, one table (about a minute; not in test).
bench: build
	$(BUILD)/tools/dravik-bench $(BUILD)/DRAVIK_A

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-windows
