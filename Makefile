# `make run` builds and runs the benchmark; `make test` builds and tests every
# target whose toolchain is installed; `make dist` builds the downloads.

JOBS ?= 2
RUNS ?= 5
WARMUP ?= 1
BINARY ?= build/simd-mix-bench
# Debian's python3-matplotlib serves the system's python3.
PLOT_PYTHON ?= $(shell test -x /usr/bin/python3 && echo /usr/bin/python3 || echo python3)

# The folders that make compare reads: every machine measured so far and
# this machine's own, where make results has written it.
RESULTS ?= $(sort $(wildcard docs/results/*/ results/*/))

.PHONY: all program run test i386 win32 sanitize bench matrix results compare gallery dist dist-check clean

all:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS)

# Builds the programs named after it in build/, without GoogleTest and the
# test suite.
build_programs = cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j $(JOBS) --target

# The companions need the JSON library and CLI11, the matrix xbyak too, and
# the pictures matplotlib, which a fresh machine lacks: installed first, as
# make test installs them, or the target stops there naming the one command
# that would.
packages_for = sh tests/native_packages.sh "make $@"

# The benchmark alone.
program:
	$(build_programs) simd-mix-bench

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
	cd build-sanitize && ctest --output-on-failure --no-tests=error -j $(JOBS)

bench:
	$(packages_for) nlohmann-json3-dev libcli11-dev
	$(build_programs) simd-mix-bench simd-mix-clock
	python3 tools/bench.py --binary $(BINARY) --runs $(RUNS) --warmup $(WARMUP)

# The penalty matrix, as JSON in build/matrix.json; a heatmap per measured
# family of classes in build/matrix-<family>.svg and .png (matrix-sse,
# matrix-avx2...), the state transitions as a bar chart in
# build/matrix-transitions.svg and .png, and each measured family's movement
# tables in build/matrix-movement-<family>-types and -widths.
matrix:
	$(packages_for) nlohmann-json3-dev libcli11-dev libxbyak-dev python3-matplotlib
	$(build_programs) simd-mix-matrix
	./build/simd-mix-matrix --json > build/matrix.json
	$(PLOT_PYTHON) tools/heatmap.py build/matrix.json --prefix build/matrix

# This machine measured by every program: results/<machine>/ holds each
# program's JSON and machine.json. Three recorded runs of the benchmark keep
# it within two minutes.
RESULTS_RUNS ?= 3
results:
	$(packages_for) nlohmann-json3-dev libcli11-dev libxbyak-dev
	$(build_programs) simd-mix-bench simd-mix-clock simd-mix-matrix
	python3 tools/results.py --build build --out results --runs $(RESULTS_RUNS) --warmup $(WARMUP)

# The folders of RESULTS side by side, in Markdown on standard output (and
# nothing else, so that make compare > FILE holds the report); every family's
# round trips, a triangle per machine side by side, in
# build/compare-crossings.png.
compare:
	@mkdir -p build
	@$(PLOT_PYTHON) tools/compare.py $(RESULTS) --picture build/compare-crossings.png

# The README's gallery and its pictures, from docs/results/.
gallery:
	$(PLOT_PYTHON) tools/gallery.py --results docs/results --readme README.md

# Every program for every target, with README.txt and SHA256SUMS, in dist/.
dist:
	sh tools/dist.sh dist build-dist

# Builds dist twice under different paths and fails on any byte difference.
dist-check:
	sh tools/dist_check.sh

clean:
	rm -rf build build-i386 build-win32 build-sanitize build-dist dist
