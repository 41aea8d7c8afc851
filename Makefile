# Top-level commands. `make test` and `make run` install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The Windows build: cross-compiled with mingw-w64, its tests run under Wine.
WINDOWS_BUILD ?= build-windows

.PHONY: all deps configure build test bench run clean windows-configure windows windows-test \
	install package windows-package \
	plate-model

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600
	@$(MAKE) --no-print-directory sanitize-test fuzz-test
	@$(MAKE) --no-print-directory windows-test

bench: build
	@scripts/run-benchmarks $(BUILD)

# The tool against the local recognition service (headless demonstration without a display).
run: build
	@scripts/run-tool $(BUILD)

clean:
	rm -rf $(BUILD)

# Installs the tool, the service, the menu entry, the icon, the manual pages and the systemd
# user units under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package: $(BUILD)/recognizer_VERSION_amd64.deb.
package: build
	@cd $(BUILD) && cpack -G DEB

# The Windows package: $(WINDOWS_BUILD)/recognizer-VERSION-win64.zip.
windows-package: windows
	@cd $(WINDOWS_BUILD) && cpack -G ZIP

# Retrains the plate reader (tools/plate-model/) into service/models/plate-reader.onnx with
# its fixed seed, installing the training packages first; `make test` never trains.
plate-model:
	@tools/plate-model/retrain

# Hardening: the native suite again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (tests labelled no-sanitize left out), and the libFuzzer targets of tests/fuzz/.
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 15
SANITIZE_FLAGS = -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
# Coverage for libFuzzer in every library a target links; the targets add -fsanitize=fuzzer.
FUZZ_FLAGS = -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer \
	-fno-sanitize-recover=all

.PHONY: sanitize-test fuzz-build fuzz-test fuzz

sanitize-test: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_C_FLAGS="$(SANITIZE_FLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)" >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:suppressions=$(CURDIR)/tests/sanitize/asan.supp \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp \
		ctest --output-on-failure -j$(JOBS) --timeout 900 -LE no-sanitize

fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) -DRECOGNIZER_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)" -DCMAKE_C_FLAGS="$(FUZZ_FLAGS)" >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz-targets

fuzz-test: fuzz-build
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_TEST_SECONDS)

fuzz: fuzz-build
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The Windows tests use the native service and test servers from $(BUILD), so build that first.
windows-configure: deps
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake $(CMAKE_FLAGS) \
		-DRECOGNIZER_NATIVE_BUILD=$(abspath $(BUILD)) >/dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j$(JOBS)

windows-test: build windows
	@cd $(WINDOWS_BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600
