# The project's two commands (see README): `make demo` and `make test`.
# Both install what they need first (scripts/setup.sh, idempotent, needs root).
BUILD ?= build
WIN := $(BUILD)/win
HOST := $(BUILD)/host
FUZZ := $(BUILD)/fuzz
BENCH := $(BUILD)/bench
BENCH_WIN := $(BENCH)/win
RELEASE := $(BUILD)/release
DIST_TREE := $(BUILD)/dist
LOGREADER_BENCH_MACHINES ?= 100000
RESTORE_BENCH_ARGS ?=
FUZZ_SECONDS ?= 60
JOBS ?= 2

.PHONY: test-ratio seed-faults all setup build build-win build-host build-fuzz test test-host test-win test-fuzz demo bench \
        logreader bench-logreader dist clean

all: build

setup:
	bash scripts/setup.sh

build-win: setup
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(WIN) -j$(JOBS)

build-host: setup
	cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Debug -DSANARIX_SANITIZE=ON
	cmake --build $(HOST) -j$(JOBS)

build: build-win build-host

# The fuzz targets: a host tree built with clang and libFuzzer, each target run for
# FUZZ_SECONDS as one CTest test.
build-fuzz: setup
	cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
	    -DCMAKE_CXX_COMPILER=clang++-14 -DSANARIX_FUZZ=ON -DSANARIX_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ) -j$(JOBS)

test-host: build-host
	cd $(HOST) && ctest --output-on-failure -j$(JOBS)

test-win: build-win
	cd $(WIN) && ctest --output-on-failure -j$(JOBS)

test-fuzz: build-fuzz
	cd $(FUZZ) && ctest --output-on-failure -L fuzz -j$(JOBS)

test: test-host test-win test-fuzz

# Lines of tests against lines of code; fails above 0.40 (the aim is 0.35 at most).
test-ratio:
	bash scripts/test-ratio.sh

# Faults seeded into the product code one at a time (scripts/seeded-faults.txt): each must
# make a test fail. Edits sources while it runs: use a tree of its own.
seed-faults: build-win
	python3 scripts/seed-faults.py --build $(WIN)

demo: build-win
	bash scripts/demo.sh $(WIN)

# Host benchmarks of the restore data path against OpenSSL's MD5, then the restore itself
# measured under Wine: restore_bench.exe, built like sanarix.exe, in a prefix of its own
# in the bench tree (docs/performance.md). RESTORE_BENCH_ARGS go to restore_bench.
bench: setup
	cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DSANARIX_SANITIZE=OFF -DSANARIX_BENCH=ON
	cmake --build $(BENCH) -j$(JOBS) --target datapath_bench
	$(BENCH)/bench/datapath_bench
	cmake -S . -B $(BENCH_WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BENCH_WIN) -j$(JOBS) --target restore_bench
	bash scripts/wine-bench.sh $(BENCH_WIN)/bench/wine/restore_bench.exe $(BENCH) $(RESTORE_BENCH_ARGS)

# The log reader for Linux, optimised (the host test tree's is built for the sanitizers).
logreader: setup
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DSANARIX_SANITIZE=OFF
	cmake --build $(RELEASE) -j$(JOBS) --target logreader
	@echo "optimised log reader: $(RELEASE)/tools/logreader/logreader"

# The optimised reader on LOGREADER_BENCH_MACHINES machine folders, made once in the build
# tree (docs/performance.md).
bench-logreader: logreader
	cmake --build $(RELEASE) -j$(JOBS) --target logreader_bench
	$(RELEASE)/bench/logreader/logreader_bench $(RELEASE)/tools/logreader/logreader \
	    $(BUILD)/fleet-bench $(LOGREADER_BENCH_MACHINES)

# The release package dist/sanarix-<version>.zip from optimised programs, checked as it is
# written (contents, sums, wrapper line ends, imports, version).
dist: setup
	cmake -S . -B $(DIST_TREE) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(DIST_TREE) -j$(JOBS) --target sanarix logreader
	bash scripts/make-dist.sh dist "$$(cat $(DIST_TREE)/generated/VERSION)" \
	    $(DIST_TREE)/app/sanarix.exe $(DIST_TREE)/tools/logreader/logreader.exe

clean:
	-WINEPREFIX=$(CURDIR)/$(WIN)/wineprefix bash scripts/wine-prefix.sh down
	-WINEPREFIX=$(CURDIR)/$(BENCH)/wineprefix bash scripts/wine-prefix.sh down
	rm -rf $(BUILD)
