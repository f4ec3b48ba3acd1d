# The front door. Every target first installs what is missing (apt-get), so
# each works from a clean clone on a fresh Debian machine.
SHELL := /bin/bash
JOBS ?= 2
FUZZ_SECONDS ?= 20

.PHONY: deps build test package test-package check-windows test-asan fuzz bench demo screenshot clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

test: build
	ctest --preset release

# The Debian packages, the seller's and the sandbox marketplace's, in build/packages/;
# test-package tries them in scratch roots.
package: build
	cmake --build --preset release --target package

test-package: package
	bash scripts/test-package.sh build/packages

# The core cross-compiled for Windows and its Windows tests under Wine (docs/windows.md).
check-windows: deps
	JOBS=$(JOBS) bash scripts/check-windows.sh

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/run-fuzzers.sh build-fuzz/bin $(FUZZ_SECONDS)

bench: build
	bash scripts/run-benches.sh build/bin

demo: build
	bash scripts/demo.sh build/bin

screenshot: build
	bash scripts/screenshot.sh build/bin

clean:
	rm -rf build build-debug build-asan build-fuzz build-windows-check
