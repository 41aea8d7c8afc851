# Top-level commands. `make test` and `make run` install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test bench run clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

bench: build
	@scripts/run-benchmarks $(BUILD)

# The tool against the local recognition service (headless demonstration without a display).
run: build
	@scripts/run-tool $(BUILD)

clean:
	rm -rf $(BUILD)
