# The two commands of the README: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO       := $(BUILD)/demo/demo.kiv

.PHONY: all deps build build-asan run test clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON -DKIV_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ]; then \
	  echo "make run: no display (DISPLAY is not set); start a desktop session or run under Xvfb" >&2; \
	  exit 1; \
	fi
	@if [ ! -f $(DEMO) ]; then echo "make run: $(DEMO) was not built" >&2; exit 1; fi
	$(BUILD)/src/app/kivplay $(DEMO)

# Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer first, then
# every test (end-to-end under Xvfb included) on the plain build. A test that
# fails gets one more run, so that a timing hiccup of the X server does not
# stop the whole run; a real fault fails both times, and the log keeps both.
test: build build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_stack_use_after_return=1 ctest -L unit -j $(JOBS) --output-on-failure
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --repeat until-pass:2

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
