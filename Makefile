# Entry points for people and CI. `make deps` is the only target that installs anything.
JOBS ?= 2
FUZZ_SECONDS ?= 60
FRAMER_FUZZ_SECONDS ?= 30
# Where `make install` puts the programs; DESTDIR stages them below another root.
PREFIX ?= /usr/local
# C++ sources only: resource scripts (.rc) are laid out by hand.
FORMAT_FILES = $(shell git ls-files --cached --others --exclude-standard '*.h' '*.cpp' 2>/dev/null)

.PHONY: all deps build build-linux build-linux-release build-windows test test-linux \
        test-release test-windows lint format run demo clean build-fuzz fuzz bench bench-relay bench-wine screenshots \
        install package-deb package-windows test-package-deb test-package-windows

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

test: lint test-linux test-release test-package-deb fuzz test-windows test-package-windows

test-linux: build-linux
	ctest --preset linux -j $(JOBS)

# The end-to-end checks once more on the optimised build, where the daemon can be starved
# of descriptors without the sanitizers tripping over it.
test-release: build-linux-release
	ctest --preset linux-release -R end_to_end

# The Debian package as a person gets it: its contents, lintian, the programs, manual pages
# and unit unpacked into a scratch root, and `make install` beside it.
test-package-deb: package-deb
	tests/packaging/deb-test.sh

# The sign-in tests use the Linux build's fake authorization server.
test-windows: build-windows build-linux-release
	scripts/wine-ctest.sh

# The Windows installer, build/packages/vantel-setup-<version>.exe (NSIS).
package-windows: build-windows
	cmake --build --preset windows --target package-windows

# The installer in a fresh Wine prefix; the Linux SMTP sink receives what the installed
# program relays.
test-package-windows: package-windows build-linux-release
	tests/packaging/windows-installer-test.sh build/windows build/linux-release/vantel-smtp-sink

install: build-linux-release
	DESTDIR="$(DESTDIR)" cmake --install build/linux-release --prefix "$(PREFIX)"

package-deb: build-linux-release
	scripts/package-deb.sh

build-fuzz:
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

# Fuzzes the rewriting and then the protocol framers, each from a scratch copy of its seed
# corpus: new inputs and crashes stay under build/fuzz.
fuzz: build-fuzz
	mkdir -p build/fuzz/corpus build/fuzz/artifacts
	cp fuzz/corpus/* build/fuzz/corpus/
	build/fuzz/rewrite_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=12288 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus
	mkdir -p build/fuzz/framer-corpus
	cp fuzz/framer-corpus/* build/fuzz/framer-corpus/
	build/fuzz/framer_fuzzer -max_total_time=$(FRAMER_FUZZ_SECONDS) -max_len=8192 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/ build/fuzz/framer-corpus
	mkdir -p build/fuzz/oauth-corpus
	build/fuzz/oauth_fuzzer -max_total_time=$(FRAMER_FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/ build/fuzz/oauth-corpus

# The rewriting benchmarks; with VANTEL_BASELINE_BIN=DIR next to those of an earlier build.
bench: build-linux-release
	scripts/bench-rewrite.sh

# The relay under load, against a minimal relay and a direct connection in the same run; with
# VANTEL_BASELINE_BIN=DIR against an earlier build too.
bench-relay: build-linux-release
	scripts/bench-relay.sh

# The Windows program's relay under Wine; with VANTEL_BASELINE_WIN=DIR against an earlier build.
bench-wine: build-windows build-linux-release
	scripts/bench-wine.sh

# Formatting, resource scripts kept from the formatter, and the core's includes kept to the
# platform interfaces.
lint:
	@scripts/check-resource-scripts.sh $(FORMAT_FILES) && echo "check-resource-scripts: no resource script for clang-format, every one laid out by hand"
	@clang-format --dry-run -Werror $(FORMAT_FILES) && echo "clang-format: $(words $(FORMAT_FILES)) files clean"
	@scripts/check-layers.sh && echo "check-layers: src/core and src/cli include no backend, program or system header, and each core layer only those below it"

format:
	@scripts/check-resource-scripts.sh $(FORMAT_FILES) >/dev/null
	@clang-format -i $(FORMAT_FILES)

# The relay in the foreground on the user's settings file; without one, first what to type.
run: build-linux-release
	scripts/run-relay.sh build/linux-release

demo: build-linux-release
	scripts/demo.sh

screenshots: build-windows package-windows
	scripts/screenshots.sh
	scripts/installer-screenshots.sh

clean:
	rm -rf build
