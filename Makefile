# Developer entry points. `make test` is what CI runs.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
FUZZ_SECONDS ?= 60
CI_FUZZ_SECONDS ?= 15
CMAKE_CONFIGURE = cmake -S . -G "Unix Makefiles" -DTALVEX_WERROR=ON

.PHONY: all deps build run test test-plain test-asan tsan bench fuzz coverage package package-check \
        format clean

all: build

deps:
	scripts/install-deps

build: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

# The tool from the build tree, with its data folder in the build tree (scripts/run-dev).
run: build
	scripts/run-dev $(BUILD)

# The plain suite, then the same suite built with ASan and UBSan.
test: deps
	$(MAKE) test-plain
	$(MAKE) test-asan
	$(MAKE) tsan
	$(MAKE) fuzz FUZZ_SECONDS=$(CI_FUZZ_SECONDS)

test-plain:
	$(CMAKE_CONFIGURE) -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)
	scripts/with-test-services ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j $(JOBS)

test-asan:
	$(CMAKE_CONFIGURE) -B $(BUILD)-asan -DTALVEX_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  scripts/with-test-services ctest --test-dir $(BUILD)-asan --output-on-failure --no-tests=error -j $(JOBS)

# The threaded suites under ThreadSanitizer (labelled "threads").
tsan:
	$(CMAKE_CONFIGURE) -B $(BUILD)-tsan -DTALVEX_SANITIZE=thread
	cmake --build $(BUILD)-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(BUILD)-tsan --output-on-failure -L threads -j $(JOBS)

bench: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DTALVEX_BUILD_TESTS=OFF -DTALVEX_BUILD_BENCH=ON
	cmake --build $(BUILD)-bench -j $(JOBS)
	scripts/with-test-services scripts/run-all $(BUILD)-bench/bench 'bench_*'

fuzz: deps
	CC=clang CXX=clang++ $(CMAKE_CONFIGURE) -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTALVEX_BUILD_TESTS=OFF -DTALVEX_BUILD_FUZZ=ON -DTALVEX_SANITIZE=address,undefined \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	scripts/run-fuzz $(BUILD)-fuzz/fuzz $(FUZZ_SECONDS)

# Line and branch coverage of code/ and app/ by the whole suite, as a summary.
coverage: deps
	$(CMAKE_CONFIGURE) -B $(BUILD)-coverage -DCMAKE_BUILD_TYPE=Debug -DTALVEX_COVERAGE=ON
	cmake --build $(BUILD)-coverage -j $(JOBS)
	find $(BUILD)-coverage -name '*.gcda' -delete
	# One suite at a time: two processes merging into one .gcda at once have left it
	# with garbage counts that gcovr refuses.
	-scripts/with-test-services ctest --test-dir $(BUILD)-coverage --no-tests=error -j 1 >/dev/null
	gcovr --root . --object-directory $(BUILD)-coverage --filter 'code/' --filter 'app/' \
	  --exclude-unreachable-branches --exclude-throw-branches --print-summary \
	  --txt $(BUILD)-coverage/coverage.txt

# The Debian package, built from a clean copy of the tree, then checked by lintian.
package:
	scripts/install-deps package
	JOBS=$(JOBS) scripts/package $(BUILD)-package

# Installs and purges that package in a fresh Debian 12 root file system (minutes; not in CI).
package-check: package
	scripts/install-deps package-check
	scripts/package-check $(BUILD)-package

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-bench $(BUILD)-fuzz $(BUILD)-coverage \
	  $(BUILD)-package
