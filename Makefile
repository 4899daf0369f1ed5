# The README's commands: `make run`, `make test`, and `make install`, `make package`.
BUILD         ?= build
ASAN_BUILD    ?= build-asan
PACKAGE_BUILD ?= build-package
RELEASE_BUILD ?= build-release
CLANG_BUILD   ?= build-clang
ARM64_BUILD   ?= build-arm64
FUZZ_BUILD    ?= build-fuzz
# make fuzz: seconds per target, or runs per target when FUZZ_RUNS is set.
FUZZ_TIME     ?= 60
FUZZ_RUNS     ?=
WEB_BUILD     ?= build-web
JOBS          ?= $(shell nproc)
DEMO          := $(BUILD)/demo/demo.kiv
PREFIX        ?= /usr/local
# The build tool below make is a make too; its directory lines are only noise here.
MAKEFLAGS     += --no-print-directory

.PHONY: all deps deps-run deps-package deps-web build build-run build-asan build-release build-clang \
        build-arm64 run test fuzz web web-test install package clean

all: build

deps:
	@bash scripts/install-deps.sh

deps-run:
	@bash scripts/install-deps.sh run

deps-package:
	@bash scripts/install-deps.sh package

deps-web:
	@bash scripts/install-deps.sh web

# Everything: the programs, the demo, unit and end-to-end tests, benchmarks.
build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON -DKIV_TESTS=ON -DKIV_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Only what playing the demo needs. A new build tree is configured without
# tests and benchmarks (they need packages that `make run` does not install);
# one that `make test` configured keeps them, and only these targets are built.
build-run: deps-run
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_TESTS=OFF -DKIV_BENCH=OFF >/dev/null; \
	fi
	@cmake --build $(BUILD) -j $(JOBS) --target kivplay kivtool demo

# clang's Debug build with AddressSanitizer and UndefinedBehaviorSanitizer:
# the build in which the unit tests run under clang, too.
build-asan: deps
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON -DKIV_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

# The other compilers and build types that the code must build with, all with
# -Werror: GCC's Release build of the programs, libraries and benchmarks (its
# optimiser warns where others do not; the tests are compiled by the two
# builds that run them), and an arm64 cross build (every source compiled; the
# animation tests run under qemu-aarch64). build-clang, clang without the
# sanitizers, is not part of make test: build-asan is clang already.
build-release: deps
	@cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DKIV_WERROR=ON -DKIV_TESTS=OFF -DKIV_BENCH=ON >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS)

build-clang: deps
	@CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKIV_WERROR=ON -DKIV_TESTS=ON -DKIV_BENCH=OFF >/dev/null
	@cmake --build $(CLANG_BUILD) -j $(JOBS)

build-arm64: deps
	@bash scripts/cross-check.sh $(ARM64_BUILD) $(JOBS)

run: build-run
	@if [ -z "$$DISPLAY" ]; then \
	  echo "make run: no display (DISPLAY is not set); start a desktop session or run under Xvfb" >&2; \
	  exit 1; \
	fi
	@if [ ! -f $(DEMO) ]; then echo "make run: $(DEMO) was not built" >&2; exit 1; fi
	$(BUILD)/src/app/kivplay $(DEMO)

# Unit tests of the clang build under AddressSanitizer and
# UndefinedBehaviorSanitizer first (a use of a dead stack frame counts too),
# then every test (end-to-end under Xvfb included) on the plain GCC build; the
# Release and arm64 builds must compile (build-arm64 runs its tests). No
# test is run twice: one that passes only on a second run hides a fault.
test: build build-asan build-release build-arm64
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_stack_use_after_return=1 ctest -L unit -j $(JOBS) --output-on-failure
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure
	@$(MAKE) web-test

# Builds the libFuzzer targets with clang and runs each from seeds made now
# (see fuzz/run.sh), FUZZ_TIME seconds or FUZZ_RUNS runs apiece.
fuzz: deps
	@bash fuzz/run.sh $(FUZZ_BUILD) "$(FUZZ_TIME)" "$(FUZZ_RUNS)"

# The page: $(WEB_BUILD)/kivplay.html and kivplay.js (the player compiled to
# WebAssembly and embedded). Debian's emscripten needs node to find Debian's
# own JavaScript modules, and its test emulator setting does not suit node 20.
web: deps-web
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DKIV_TESTS=OFF -DKIV_BENCH=OFF -DCMAKE_CROSSCOMPILING_EMULATOR=node >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(WEB_BUILD) -j $(JOBS)
	@ls -l $(WEB_BUILD)/kivplay.html $(WEB_BUILD)/kivplay.js

# The portable libraries' unit tests compiled to WebAssembly under node, then
# the page in headless chromium against kivtool's screens. puppeteer-core
# comes from npm at the locked version; it drives Debian's chromium and
# downloads no browser.
web-test: web build-run
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(WEB_BUILD)/unit -DCMAKE_BUILD_TYPE=Release \
	  -DKIV_TESTS=ON -DKIV_BENCH=OFF -DCMAKE_CROSSCOMPILING_EMULATOR=node >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(WEB_BUILD)/unit -j $(JOBS) \
	  --target anim_tests image_tests playback_tests resources_tests shell_tests
	@cd $(WEB_BUILD)/unit && ctest -L unit -j $(JOBS) --output-on-failure
	@cd web/tests && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --silent
	@node web/tests/page_test.mjs $(WEB_BUILD) $(BUILD)/tools/kivtool/kivtool $(BUILD)/tools/makedemo/makedemo \
	  $(DEMO) $(WEB_BUILD)/page-test
	@node web/tests/convert_test.mjs $(WEB_BUILD) $(BUILD)/tools/kivtool/kivtool $(BUILD)/tools/makedemo/makedemo \
	  $(WEB_BUILD)/convert-test

# Installs into PREFIX (default /usr/local); DESTDIR stages it elsewhere.
install: build-run
	@cmake --build $(BUILD) -j $(JOBS) --target kiv_install_files
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package, built in a tree of its own without tests, and left here
# as kivplay_VERSION_ARCH.deb.
package: deps-package
	@cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_TESTS=OFF -DKIV_BENCH=OFF >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	@rm -f kivplay_*.deb $(PACKAGE_BUILD)/kivplay_*.deb
	@cd $(PACKAGE_BUILD) && cpack -G DEB >/dev/null
	@mv $(PACKAGE_BUILD)/kivplay_*.deb .
	@ls kivplay_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD) $(WEB_BUILD) $(RELEASE_BUILD) $(CLANG_BUILD) $(ARM64_BUILD) $(FUZZ_BUILD)
