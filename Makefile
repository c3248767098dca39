# Thin wrapper over CMake; the build lives in build/ (out of source).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

# The 32-bit ARM cross-build against its own armhf sysroot (in the build
# tree, made by scripts/armhf-sysroot), its tests run under qemu-user.
ARM_BUILD ?= build-arm
# ARM_EMULATOR, when set, replaces the toolchain file's qemu-arm command.
ARM_SYSROOT = $(abspath $(ARM_BUILD))/sysroot
ARM_EMULATOR ?=
ARM_CONFIGURE = cmake -S . -B $(ARM_BUILD) -DCMAKE_BUILD_TYPE=Release -DLM_BUILD_BENCHMARKS=OFF \
	-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake -DLM_ARMHF_SYSROOT=$(ARM_SYSROOT) \
	$(if $(ARM_EMULATOR),"-DCMAKE_CROSSCOMPILING_EMULATOR=$(ARM_EMULATOR)") \
	-DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
PACKAGE_BUILD ?= build-package

.PHONY: all deps build test check demo bench bench-update bench-delta bench-link bench-fsync crash crash-sweep asan interop fuzz arm package package-arm format clean

all: build

deps:
	sh scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

# build and check take the packages as installed; a fresh machine gets them
# from demo and test.
build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Every test but the power-cut sweep, which has its own stage (crash).
test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE crash

# The fast loop: every test but those labelled slow.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

# Only what the demo runs; a later `make test` builds the rest in the same tree.
demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target SetNetwork LmUpdate
	sh scripts/demo $(BUILD)

bench: build
	$(BUILD)/benchmarks/lm_benchmarks

# LmUpdate --update against curl + md5sum + unzip, and --list; Markdown on
# standard output (see benchmarks/update/run; BENCH_ARGS passes options).
bench-update: $(BUILD)/CMakeCache.txt
	sh benchmarks/update/run $(BUILD) $(BENCH_ARGS)

# A v1 -> v2 update by full download, zsync and the client's block delta, on
# three generated pairs (see benchmarks/delta/run; BENCH_ARGS passes options).
bench-delta: $(BUILD)/CMakeCache.txt
	sh benchmarks/delta/run $(BUILD) $(BENCH_ARGS)

# One update of a 4 MiB package over a slow link that stalls and resets
# (tools/link_relay.py): extra bytes and time against the ideal, as Markdown
# (see benchmarks/link/run; BENCH_ARGS passes options).
bench-link: $(BUILD)/CMakeCache.txt
	sh benchmarks/link/run $(BUILD) $(BENCH_ARGS)

# The fsync calls of one update of a 2 MiB package, under strace: per file
# and directory, per state file written, and on the downloaded package
# (see benchmarks/durability/run; BENCH_ARGS passes options).
bench-fsync: $(BUILD)/CMakeCache.txt
	sh benchmarks/durability/run $(BUILD) $(BENCH_ARGS)

# Power cuts on a FUSE file system (tools/powercut_fs.py; root and /dev/fuse):
# crash runs the spread subset of CI, crash-sweep the whole sweep (at least 200 cut
# points and the failure injection).
crash: deps
	sh scripts/install-deps --crash
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -L crash

CRASH_POINTS ?= 220
crash-sweep: deps
	sh scripts/install-deps --crash
	cmake --build $(BUILD) -j $(JOBS) --target SetNetwork LmUpdate
	/usr/bin/python3 tests/crash/power_cut_sweep.py --bin $(BUILD)/bin --source . \
		--points $(CRASH_POINTS) --faults

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

arm:
	sh scripts/install-deps --armhf
	sh scripts/armhf-sysroot $(ARM_SYSROOT)
	$(ARM_CONFIGURE)
	cmake --build $(ARM_BUILD) -j $(JOBS)
	sh scripts/arm-tests $(ARM_BUILD) $(JOBS)

# Debian packages (lmupdate_VERSION_ARCH.deb), checked once built.
package:
	sh scripts/install-deps --package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	sh scripts/check-package $(PACKAGE_BUILD)/lmupdate_*_$$(dpkg --print-architecture).deb

package-arm:
	sh scripts/install-deps --armhf --package
	sh scripts/armhf-sysroot $(ARM_SYSROOT)
	$(ARM_CONFIGURE)
	cmake --build $(ARM_BUILD) -j $(JOBS) --target SetNetwork LmUpdate
	cd $(ARM_BUILD) && cpack -G DEB
	LM_ARMHF_SYSROOT=$(ARM_SYSROOT) sh scripts/check-package $(ARM_BUILD)/lmupdate_*_armhf.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz $(ARM_BUILD) $(PACKAGE_BUILD)
