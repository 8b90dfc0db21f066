# The commands a newcomer types. Each one installs what is missing, configures and builds.
SHELL := /bin/bash
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
TSAN_BUILD_DIR ?= build-tsan
BENCH_BUILD_DIR ?= build-bench
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all deps configure build test asan-test tsan-test symbols abi abi-baseline consumer \
        install check demo bench fuzz fuzz-smoke format clean docs

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) > /dev/null

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# The suites never touch the account's own trash; the wrapper fails the run if they did.
test: build
	cd $(BUILD_DIR) && $(CURDIR)/scripts/check-account-trash.sh ctest --output-on-failure -j$(JOBS)

# The same suites under AddressSanitizer and UndefinedBehaviorSanitizer, but for the sync
# measurements: their goals are milliseconds of real time, which an instrumented recorder can
# not keep; the code they run is run under the sanitizers by the other recording suites.
asan-test: deps
	@cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug \
	  -DLUMO_SANITIZE=address,undefined $(CMAKE_FLAGS) > /dev/null
	cmake --build $(ASAN_BUILD_DIR) -j$(JOBS)
	cd $(ASAN_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CURDIR)/scripts/check-account-trash.sh ctest --output-on-failure -j$(JOBS) \
	  -E '^RecordSyncTest\.'

# The recording engine's threads, and the commands that run them, under ThreadSanitizer: only
# these suites are built, which keeps the instrumented build short. Reports from libraries
# built without it are suppressed in tests/tsan.supp, never our own. One test at a time, and
# without the cases that measure keeping up in real time: instrumented, the machine can not.
TSAN_SUITES := BoundedQueueTest PictureGridTest SoundClockTest RecordingClockTest AudioEncoderTest RecordingTest \
  FfmpegLogTest CallStackTest RemoveDirTest \
  LumoToolTest RecordTest RecordCommandTest RecordFailureTest
# No second's wait at exit: the suites time how fast lumo ends.
TSAN_RUN_OPTIONS := halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=0
TSAN_REAL_TIME := ARecordingHoldsTheScreenAndTheSoundInStep AKillAtAnyMomentLeavesNothingOrAFile \
  AStoppedRecorderDoesNotBlameTheMachine
tsan-test: deps
	@cmake -S . -B $(TSAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=thread \
	  $(CMAKE_FLAGS) > /dev/null
	cmake --build $(TSAN_BUILD_DIR) -j$(JOBS) --target lumo $(TSAN_SUITES)
	cd $(TSAN_BUILD_DIR) && \
	  TSAN_OPTIONS="$(TSAN_RUN_OPTIONS):suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -R "^($$(echo $(TSAN_SUITES) | tr ' ' '|'))\." \
	  -E "$$(echo $(TSAN_REAL_TIME) | tr ' ' '|')"

# Only the public families leave either library; no program or library searches the current
# directory for libraries; what we ship names no path of this checkout.
symbols: build
	scripts/check-exported-symbols.sh $(BUILD_DIR)/libLumoProject.so \
	  $(BUILD_DIR)/libVantorPlatform.so
	scripts/check-search-paths.sh $(BUILD_DIR)
	scripts/check-source-paths.sh $(BUILD_DIR)/libLumoProject.so $(BUILD_DIR)/libVantorPlatform.so

# The ABI of libLumoProject.so against the committed baseline abi/libLumoProject.abi.
abi: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target LumoProject
	scripts/check-abi.sh $(BUILD_DIR)

# Writes the baseline anew: only on purpose, as CHANGELOG.md describes.
abi-baseline: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target LumoProject
	scripts/check-abi.sh --update $(BUILD_DIR)

# A program builds against the installed package (CMake, pkg-config, multiarch) and as a
# subproject of a host, whose settings it must leave alone.
consumer: build
	scripts/check-consumer.sh $(BUILD_DIR)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The API reference in $(BUILD_DIR)/docs/html, from a clean folder; any Doxygen warning fails
# it. Its input, the installed headers, is written by the configure step into the build tree.
docs: configure
	@rm -rf $(BUILD_DIR)/docs
	@{ cat docs/Doxyfile $(BUILD_DIR)/docs-input.doxy; \
	  echo "OUTPUT_DIRECTORY = $(BUILD_DIR)/docs"; } | doxygen -
	@echo "API reference: $(BUILD_DIR)/docs/html/index.html"

check: test asan-test tsan-test symbols abi docs consumer fuzz-smoke

# Records a real project into ./recordings and reads it back.
LUMO := $(BUILD_DIR)/tools/lumo/lumo
demo: build
	@mkdir -p recordings
	@project=$$($(LUMO) record recordings) && echo "recorded $$project" && $(LUMO) info "$$project"

# Each benchmark measures the library beside its anchor in the same run.
bench: deps
	@cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_BENCH=ON \
	  -DLUMO_BUILD_TESTS=OFF $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BENCH_BUILD_DIR) -j$(JOBS) --target run-benchmarks

# libFuzzer with clang; FUZZ_SECONDS per target.
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLUMO_SANITIZE=address,undefined -DLUMO_BUILD_FUZZ=ON -DLUMO_BUILD_TESTS=OFF \
	  -DLUMO_BUILD_TOOLS=OFF -DLUMO_FUZZ_SECONDS=$(FUZZ_SECONDS) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(FUZZ_BUILD_DIR) -j$(JOBS) --target run-fuzzers

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=60

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(TSAN_BUILD_DIR) $(BENCH_BUILD_DIR) $(FUZZ_BUILD_DIR)
