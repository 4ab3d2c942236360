# `make run` builds and runs the benchmark; `make test` builds and tests every
# target whose toolchain is installed; `make dist` builds the downloads.

JOBS ?= 2
RUNS ?= 5
WARMUP ?= 1
BINARY ?= build/simd-mix-bench

.PHONY: all program run test i386 win32 sanitize bench dist dist-check clean

all:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS)

# The benchmark alone, without GoogleTest and the test suite.
program:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS) --target simd-mix-bench

run: program
	./build/simd-mix-bench

i386:
	cmake -S . -B build-i386 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake
	cmake --build build-i386 -j $(JOBS)

win32:
	cmake -S . -B build-win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
	cmake --build build-win32 -j $(JOBS)

test:
	sh tests/all_targets.sh

# The program and the native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIMD_MIX_BENCH_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

bench: program
	python3 tools/bench.py --binary $(BINARY) --runs $(RUNS) --warmup $(WARMUP)

# Every program for every target, with README.txt and SHA256SUMS, in dist/.
dist:
	sh tools/dist.sh dist build-dist

# Builds dist twice under different paths and fails on any byte difference.
dist-check:
	sh tools/dist_check.sh

clean:
	rm -rf build build-i386 build-win32 build-sanitize build-dist dist
