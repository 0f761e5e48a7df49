# Entry points: `make test` runs every test (native unit and end-to-end
# tests, the same under sanitizers and valgrind, static analysis, the
# aarch64 programs' tests under qemu-user, the fuzzers and the two-fold
# build of make reproduce when CI=true, and the Windows builds, last); `make demo` runs both
# launchers on a sample installation with a real Java VM. Each target first
# sets up what it needs (tools/setup-deps.sh).
.DEFAULT_GOAL := test
.PHONY: test demo native asan lint windows package bench clean
# The legs run one after the other, native first, even under make -j.
.NOTPARALLEL:

DEPS := deps-demo deps-test deps-fuzz deps-bench deps-package deps-reproduce
.PHONY: $(DEPS)
$(DEPS): deps-%:
	@tools/setup-deps.sh $*

native: deps-test
	cmake --preset native
	cmake --build --preset native
	ctest --preset native

# The native build once more with AddressSanitizer and UndefinedBehavior-
# Sanitizer: unit and end-to-end tests, any finding fatal (the asan preset).
asan: deps-test
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# clang-tidy and cppcheck over the programs' code, with the native tree's
# compile commands.
lint: deps-test
	cmake --preset native
	tools/lint.sh build/native

# Both Windows builds, always, and what can be checked of their files
# without running them; then the end-to-end tests under Wine of the build
# this machine can run (tools/windows-leg.sh): the 32-bit product where
# 32-bit programs run, else the same code as 64-bit programs. Without any
# Wine that runs, that part is skipped, except in CI.
windows: deps-test
	@set -e; \
	line=$$(tools/windows-leg.sh); leg=$${line%%:*}; \
	echo "make: Windows leg $$line"; \
	for arch in i686 x86_64; do \
	  cmake --preset windows-$$arch; \
	  cmake --build --preset windows-$$arch; \
	  ctest --preset windows-$$arch --label-exclude wine; \
	done; \
	if [ "$$leg" = none ]; then \
	  if [ "$${CI:-}" = true ]; then \
	    echo "make: CI=true needs the Windows tests under Wine" >&2; \
	    exit 1; \
	  fi; \
	  echo "make: the Windows tests under Wine skipped"; \
	  exit 0; \
	fi; \
	ctest --preset windows-$$leg --label-regex wine

# The set-up scripts, against stand-ins for apt, dpkg and debootstrap.
.PHONY: setup-test
setup-test: deps-test
	python3 -B tools/setup_deps_test.py
	python3 -B tools/build_root_test.py

# The aarch64 programs of the build root's cross compiler (the
# linux-aarch64 preset): their unit tests and both end-to-end suites under
# qemu-user, their hardening and the systems they need. Needs the build
# root: made here as root; another account without one skips the leg,
# saying why, which with CI=true fails.
.PHONY: aarch64
aarch64: deps-test
	@status=0; tools/build_root.py make >/dev/null || status=$$?; \
	if [ $$status = 77 ] && [ "$${CI:-}" != true ]; then \
	  echo "make: the aarch64 leg skipped: no build root to build in"; \
	  exit 0; \
	fi; \
	[ $$status = 0 ] || exit 1; \
	cmake --preset linux-aarch64 && \
	cmake --build --preset linux-aarch64 && \
	ctest --preset linux-aarch64

test: setup-test native asan lint aarch64 fuzz-ci reproduce-ci windows

# The Debian 11 root that the shipped Linux programs are built against
# (tools/build_root.py): made once per machine, as root, in
# /var/cache/talvane-launchers, and reused while tools/build-root.list is
# unchanged.
.PHONY: build-root
build-root: deps-package
	tools/build_root.py make

# Packages, in each build tree's packages/: the .tar.gz and .deb of the
# x86_64 and aarch64 Linux builds against the build root, the ZIP of the
# 32-bit Windows
# build (the product; the x86_64 build only tests the same code). Needs no
# Wine. Then build/packages/SHA256SUMS over the programs and packages, and
# beside it the versions of the tools that made them and the build root's
# packages (TOOL-VERSIONS).
package: build-root
	cmake --preset linux-x86_64
	cmake --build --preset linux-x86_64
	cpack --config build/linux-x86_64/CPackConfig.cmake
	cmake --preset linux-aarch64
	cmake --build --preset linux-aarch64
	cpack --config build/linux-aarch64/CPackConfig.cmake
	cmake --preset windows-i686
	cmake --build --preset windows-i686
	cpack --config build/windows-i686/CPackConfig.cmake
	tools/release.py sums

# The same commit gives the same bytes: builds the programs and packages
# twice, in two clones of HEAD at different paths, times, time zones, umasks,
# locales and (as root) accounts, and names any file that differs. make test
# runs it in CI (CI=true) only.
.PHONY: reproduce reproduce-ci
reproduce: deps-reproduce
	tools/reproduce.py

reproduce-ci:
	@if [ "$${CI:-}" = true ]; then \
	  $(MAKE) --no-print-directory reproduce; \
	fi

demo: deps-demo
	tools/demo.sh

# libFuzzer targets (fuzz/, clang): each runs for FUZZ_SECONDS over a scratch
# copy of its seed corpus, then its executions and coverage are printed.
# make test runs them for a minute each in CI (CI=true) only.
FUZZ_SECONDS ?= 300
.PHONY: fuzz fuzz-ci
fuzz: deps-fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz --target fuzzers
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_fuzzers.sh build/fuzz

fuzz-ci:
	@if [ "$${CI:-}" = true ]; then \
	  $(MAKE) --no-print-directory fuzz FUZZ_SECONDS=60; \
	fi

# Benchmarks of the native build, printed as Markdown tables (bench/run.py:
# start-up cost, peak memory, registry files up to 100 MB, a real Java VM).
bench: deps-bench
	cmake --preset native
	cmake --build --preset native
	python3 bench/run.py

clean:
	@for prefix in build/windows-*/wineprefix; do \
	  [ -d "$$prefix" ] || continue; \
	  WINEPREFIX=$$PWD/$$prefix wineserver -k 2>/dev/null || true; \
	done
	rm -rf build
