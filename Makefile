# Thin wrapper over CMake; the build lives in build/ (out of source).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test demo bench bench-update asan interop fuzz format clean

all: build

deps:
	sh scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	sh scripts/demo $(BUILD)

bench: build
	$(BUILD)/benchmarks/lm_benchmarks

# LmUpdate --update against curl + md5sum + unzip, and --list; Markdown on
# standard output (see benchmarks/update/run; BENCH_ARGS passes options).
bench-update: $(BUILD)/CMakeCache.txt
	sh benchmarks/update/run $(BUILD) $(BENCH_ARGS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DLM_SANITIZE=ON -DLM_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)"

# The client against real nginx, tinyproxy and squid on loopback.
interop: build
	sh scripts/install-deps --interop
	python3 tests/interop/run $(BUILD)

# Every libFuzzer target for SECONDS seconds each, built with clang in build-fuzz/.
SECONDS ?= 30
fuzz:
	sh scripts/install-deps --fuzz
	sh scripts/fuzz $(SECONDS) build-fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
