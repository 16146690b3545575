# Entry points for people and CI. `make deps` is the only target that installs anything.
JOBS ?= 2
FORMAT_FILES = $(shell git ls-files --cached --others --exclude-standard '*.h' '*.cpp' 2>/dev/null)

.PHONY: all deps build build-linux build-linux-release build-windows test test-linux \
        test-windows lint format run clean

all: build

deps:
	scripts/install-deps.sh

build: build-linux build-windows

build-linux:
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

build-linux-release:
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS)

build-windows:
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

test: lint test-linux test-windows

test-linux: build-linux
	ctest --preset linux -j $(JOBS)

test-windows: build-windows
	scripts/wine-ctest.sh

lint:
	@clang-format --dry-run -Werror $(FORMAT_FILES) && echo "clang-format: $(words $(FORMAT_FILES)) files clean"

format:
	@clang-format -i $(FORMAT_FILES)

run: build-linux-release
	build/linux-release/vantel-relay

clean:
	rm -rf build
