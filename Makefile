# Top-level commands. `make test` and `make run` install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine.
WINDOWS_BUILD ?= build-windows

.PHONY: all deps configure build test bench run clean windows-configure windows windows-test

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600
	@$(MAKE) --no-print-directory windows-test

bench: build
	@scripts/run-benchmarks $(BUILD)

# The tool against the local recognition service (headless demonstration without a display).
run: build
	@scripts/run-tool $(BUILD)

clean:
	rm -rf $(BUILD)

# The Windows tests use the native service and test servers from $(BUILD), so build that first.
windows-configure: deps
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake $(CMAKE_FLAGS) \
		-DRECOGNIZER_NATIVE_BUILD=$(abspath $(BUILD)) >/dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j$(JOBS)

windows-test: build windows
	@cd $(WINDOWS_BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600
