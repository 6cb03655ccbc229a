# Entry points; the build itself is CMake (see CMakePresets.json).
.PHONY: deb demo picture torture torture-plants test test-asan test-tsan bench bench-log fuzz coverage mutate memcheck deps clean

# Builds the example job and runs the demo: copy, kill, restart, verify;
# then draws the job's history from its log into build/demo/history.svg.
demo: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo jxrestart
	rm -rf build/demo && mkdir -p build/demo
	ZN_DEBUG_LOG=$(CURDIR)/build/demo/job.log build/bin/jx-copy-demo
	cd build/demo && ../bin/jxrestart log --svg history.svg job.log

# The README's picture of the demo's history (doc/demo-history.svg), anew.
picture: demo
	cp build/demo/history.svg doc/demo-history.svg

# The torture run of the example job on jx-crashfs: ROUNDS rounds of kills,
# power losses and failed saves, each verified.
ROUNDS ?= 1000
SEED ?= 20261211
torture: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo
	build/bin/jx-copy-demo --torture $(ROUNDS) --seed $(SEED)

# Each careless way of saving or copying, planted in turn: the torture must
# catch every one. Prints, per plant, the failures and the first round that
# failed.
PLANT_ROUNDS ?= 400
torture-plants: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo
	examples/torture-plants.sh build/bin/jx-copy-demo $(PLANT_ROUNDS) $(SEED)

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

# Line and branch coverage of the library and the host log as they are built
# (the objects in build-coverage/restart and build-coverage/host; the
# tool's own instances of the internal templates count as the tool's), then
# of the tool by its tests (.ci/tool-coverage). Only the library's and the
# host log's own test programs are built for the first: the tool's and the
# examples' tests, the end-to-end runs and the builds of consumers reach no
# line of either that those do not.
coverage: deps
	cmake --workflow --preset coverage
	gcovr -r . build-coverage/restart build-coverage/host --filter 'restart/' --filter 'host/' \
	  --exclude-throw-branches --exclude-unreachable-branches --print-summary \
	  --fail-under-line 100 --fail-under-branch 95
	.ci/tool-coverage

# One operator change at a time to restart/ and host/, each judged by their
# tests: the score and the survivors (an hour or more; not run by CI).
mutate: deps
	tests/mutation/mutate.py build-mutate

# The Debian packages (libjxrestart1, libjxrestart-dev, jxrestart, libznlib)
# in build-deb/, built for /usr and checked by lintian.
deb: deps
	cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_INSTALL_LIBDIR=lib/$$(dpkg-architecture -qDEB_HOST_MULTIARCH) -DJXRESTART_INCLUDE_SUBDIR=jxrestart \
	  -DJXRESTART_BUILD_TESTS=OFF -DJXRESTART_BUILD_BENCH=OFF
	cmake --build build-deb
	rm -f build-deb/*.deb
	cd build-deb && cpack -G DEB
	lintian --fail-on error build-deb/*.deb

# The ordinary test programs under valgrind memcheck.
memcheck: test
	.ci/memcheck build

deps:
	@.ci/install-deps

clean:
	rm -rf build build-*
