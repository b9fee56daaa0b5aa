# The two set-up commands: `make test` and `make run`.
JOBS ?= $(shell nproc)
TEST_DIR := build/test
RELEASE_DIR := build/release
BENCH_DIR := build/bench
FUZZ_DIR := build/fuzz
# Seconds each fuzz harness runs, and how many run at once.
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 3
# The test tree: sanitizers on, warnings as errors, the benchmarks built too (not run), so a
# change that breaks one fails here rather than at the next measurement.
CONFIGURE_TEST = cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKELDWICK_SANITIZE=ON -DKELDWICK_WERROR=ON -DKELDWICK_TESTS=ON -DKELDWICK_BENCH=ON
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Where `make install` puts the program; nothing goes outside it.
PREFIX ?= $(HOME)/.local

.PHONY: test run install dist screenshots e2e bench bench-program soak fuzz deps clean release

deps:
	./scripts/install-deps

test: deps
	$(CONFIGURE_TEST)
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) --timeout 300 \
	  || { $(CURDIR)/scripts/test-failures $(CURDIR)/$(TEST_DIR); exit 1; }

# The program, built for release.
release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELDWICK_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target keldwick keldwick_icons

run: release
	$(RELEASE_DIR)/app/keldwick

# The program, its desktop entry, icon and file managers' actions under $(PREFIX).
install: release
	cmake --install $(RELEASE_DIR) --prefix "$(PREFIX)"

# The signed update archive of the release build in build/dist: keldwick-<version>.tar.gz
# and its Ed25519 signature (.sig), signed with the PEM key KELDWICK_SIGNING_KEY names.
dist: release
	./scripts/dist $(RELEASE_DIR) build/dist "$(KELDWICK_SIGNING_KEY)"

# Every window pictured in its main states by the windows' picture tests (offscreen), at 1×
# and 2×, light and dark, then the real program under a virtual X server with a tray on a
# light and on a dark panel; all of it lands in build/screenshots.
screenshots: release
	$(CONFIGURE_TEST)
	cmake --build $(TEST_DIR) -j $(JOBS) --target window_tests
	$(SANITIZER_ENV) JOBS=$(JOBS) ./scripts/window-pictures $(TEST_DIR)
	./scripts/screenshots $(RELEASE_DIR)/app/keldwick build/screenshots

# The program under a virtual X server beside a minimal Qt tray program built in the same
# run: start-up time, memory and idle CPU at rest over 1, 10,000 and 100,000 records, and
# idle CPU with each window open.
bench-program: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DKELDWICK_TESTS=OFF -DKELDWICK_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS) --target keldwick seed_journal tray_reference
	./bench/program $(BENCH_DIR)/app/keldwick $(BENCH_DIR)/seed_journal $(BENCH_DIR)/tray_reference

# The kill test at length: 1,000 kills of a process moving and restoring files.
soak: deps
	$(CONFIGURE_TEST)
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && KELDWICK_KILLS=$${KELDWICK_KILLS:-1000} ./engine_tests --gtest_filter='Shards/RealKill.*'

bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DKELDWICK_TESTS=OFF -DKELDWICK_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	./bench/run $(BENCH_DIR)

# Every reader of outside input under libFuzzer, with clang, in a build of its own.
fuzz:
	./scripts/install-deps --fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKELDWICK_FUZZ=ON -DKELDWICK_TESTS=OFF -DKELDWICK_APP=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	./fuzz/run $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_JOBS)

clean:
	rm -rf build

# The program end to end under a virtual X server, every group of routes side by side,
# built with the sanitizers as under `make test`: each route a user has, checked on the
# real file systems; pictures in build/e2e. Needs root.
e2e: deps
	$(CONFIGURE_TEST)
	cmake --build $(TEST_DIR) -j $(JOBS) --target keldwick
	$(SANITIZER_ENV) ./scripts/e2e $(TEST_DIR)/app/keldwick build/e2e
