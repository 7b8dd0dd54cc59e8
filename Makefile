# The two commands of README: `make check` and `make demo`.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan check test test-asan clean bench bench-vux demo \
        check-ppc check-i386 check-valgrind check-all

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j$(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null
	cmake --build build-asan -j$(JOBS)

test: build
	cd build && ctest --output-on-failure -j$(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS)

# Every test, on the normal build and on the sanitizer build.
check: test test-asan

# The demo receiver under build/demo, served on 127.0.0.1 until Ctrl-C.
demo: build
	demo/run.sh

# What one request costs at the receiver's scales (bench/request.py).
bench: build
	python3 bench/request.py --startup

# Throughput and memory of vux2mpeg beside dd and an ffmpeg remux.
bench-vux: build
	bench/vux2mpeg.sh build

# The suite on the receiver's CPU (32-bit big-endian PowerPC, under
# qemu-user), on 32-bit x86, and with every program run under valgrind.
check-ppc:
	JOBS=$(JOBS) scripts/cross-build.sh ppc

check-i386:
	JOBS=$(JOBS) scripts/cross-build.sh i386

check-valgrind: build
	JOBS=$(JOBS) scripts/valgrind-check.sh

# Every check above and a short fuzz run: what CI runs (.ci/run).
check-all: check check-valgrind check-ppc check-i386 fuzz-short

clean:
	rm -rf build build-asan build-ppc build-i386 build-fuzz

# Fuzz targets (clang, libFuzzer, address and undefined-behaviour
# sanitizers) in build-fuzz; `make fuzz FUZZ_SECONDS=N` runs each N seconds.
FUZZ_SECONDS ?= 60
.PHONY: build-fuzz fuzz fuzz-short
build-fuzz: deps
	CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build-fuzz -j$(JOBS)

fuzz: build-fuzz
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# The short run CI makes: each target 30 s.
fuzz-short: build-fuzz
	fuzz/run.sh build-fuzz 30
