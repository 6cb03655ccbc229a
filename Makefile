# Entry points; the build itself is CMake (see CMakePresets.json).
.PHONY: demo test test-asan deps clean

# Builds the example job and runs the demo: copy, kill, restart, verify.
demo: deps
	cmake --preset default
	cmake --build --preset default --target jx-copy-demo
	build/bin/jx-copy-demo

deps:
	@.ci/install-deps

# Builds everything and runs every test.
test: deps
	cmake --workflow --preset default

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake --workflow --preset asan

clean:
	rm -rf build build-*
