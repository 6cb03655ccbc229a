# Entry points; the build itself is CMake (see CMakePresets.json).
.PHONY: test test-asan deps clean

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
