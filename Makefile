# Entry points; the build itself is CMake (see CMakePresets.json).
.PHONY: demo torture test test-asan test-tsan bench bench-log fuzz coverage memcheck deps clean

# Builds the example job and runs the demo: copy, kill, restart, verify.
demo: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo
	build/bin/jx-copy-demo

# The torture run of the example job: ROUNDS rounds of kills, each verified.
ROUNDS ?= 600
SEED ?= 20261209
torture: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo
	build/bin/jx-copy-demo --torture $(ROUNDS) --seed $(SEED)

# Builds everything and runs every test.
test: deps
	cmake --workflow --preset default

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake --workflow --preset asan

# The concurrency tests under ThreadSanitizer.
test-tsan: deps
	cmake --workflow --preset tsan

# The benchmarks against the plain implementation, and the memory report.
bench: deps
	cmake --preset default
	cmake --build --preset default --target JxRestartBench JxRestartMemory
	build/bin/JxRestartBench
	build/bin/JxRestartMemory

# How fast `jxrestart log` reads a generated job log of LOG_MB megabytes.
LOG_MB ?= 1024
bench-log: deps
	cmake --preset default
	cmake --build --preset default --target JxRestartLogBench
	build/bin/JxRestartLogBench $(LOG_MB)

# The fuzz targets with libFuzzer (clang), each for FUZZ_SECONDS.
FUZZ_SECONDS ?= 30
fuzz: deps
	cmake --preset fuzz -DJXRESTART_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build --preset fuzz
	ctest --preset fuzz

# Line and branch coverage of restart/ and host/ from the tests and corpora.
coverage: deps
	cmake --workflow --preset coverage
	gcovr -r . build-coverage --filter 'restart/' --filter 'host/' --exclude-throw-branches \
	  --exclude-unreachable-branches --print-summary --fail-under-line 100 --fail-under-branch 90

# The ordinary test programs under valgrind memcheck.
memcheck: test
	.ci/memcheck build

deps:
	@.ci/install-deps

clean:
	rm -rf build build-*
