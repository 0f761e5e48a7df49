# Entry points: `make test` runs every test (native unit and end-to-end
# tests, the same under sanitizers and valgrind, static analysis, the fuzzers
# and the two-fold build of make reproduce when CI=true, and the Windows
# build under Wine, last); `make demo` runs both launchers on a sample
# installation with a real Java VM. Both set up what is missing first.
.DEFAULT_GOAL := test
.PHONY: test demo deps native windows clean
# The legs run one after the other, native first, even under make -j.
.NOTPARALLEL:

deps:
	@tools/setup-deps.sh

native: deps
	cmake --preset native
	cmake --build --preset native
	ctest --preset native

# The native build once more with AddressSanitizer and UndefinedBehavior-
# Sanitizer: unit and end-to-end tests, any finding fatal (the asan preset).
.PHONY: asan lint
asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# clang-tidy and cppcheck over the programs' code, with the native tree's
# compile commands.
lint: deps
	cmake --preset native
	tools/lint.sh build/native

# Starts a recipe line that needs the Windows tools (mingw-w64 for i686 and
# wine32): without them the rest is skipped, except in CI, where it must run.
windows_tools_or_skip = if ! tools/setup-deps.sh --windows-ready; then \
	  if [ "$${CI:-}" = true ]; then \
	    echo "make: the Windows tools (mingw-w64 i686, wine32) are missing; CI=true needs the $(1)" >&2; \
	    exit 1; \
	  fi; \
	  echo "make: the Windows tools (mingw-w64 i686, wine32) are missing: $(1) skipped"; \
	  exit 0; \
	fi

windows: deps
	@$(call windows_tools_or_skip,Windows leg); \
	set -ex; \
	cmake --preset windows-i686; \
	cmake --build --preset windows-i686; \
	ctest --preset windows-i686

test: native asan lint fuzz-ci reproduce-ci windows

# Packages, each in its build tree's packages/: the .tar.gz and .deb of the
# native build, the ZIP of the Windows build (skipped, except in CI, without
# the Windows tools). Then build/packages/SHA256SUMS over the programs and
# packages, and the versions of the tools that made them.
.PHONY: package
package: deps
	cmake --preset native
	cmake --build --preset native
	cpack --config build/native/CPackConfig.cmake
	@$(call windows_tools_or_skip,Windows package); \
	set -ex; \
	cmake --preset windows-i686; \
	cmake --build --preset windows-i686; \
	cpack --config build/windows-i686/CPackConfig.cmake
	tools/release.py sums

# The same commit gives the same bytes: builds the programs and packages
# twice, in two clones of HEAD at different paths, times, time zones, umasks,
# locales and (as root) accounts, and names any file that differs. make test
# runs it in CI (CI=true) only.
.PHONY: reproduce reproduce-ci
reproduce:
	tools/reproduce.py

reproduce-ci:
	@if [ "$${CI:-}" = true ]; then \
	  $(MAKE) --no-print-directory reproduce; \
	fi

demo: deps
	tools/demo.sh

# libFuzzer targets (fuzz/, clang): each runs for FUZZ_SECONDS over a scratch
# copy of its seed corpus, then its executions and coverage are printed.
# make test runs them for a minute each in CI (CI=true) only.
FUZZ_SECONDS ?= 300
.PHONY: fuzz fuzz-ci
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz --target fuzzers
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_fuzzers.sh build/fuzz

fuzz-ci:
	@if [ "$${CI:-}" = true ]; then \
	  $(MAKE) --no-print-directory fuzz FUZZ_SECONDS=60; \
	fi

# Benchmarks of the native build, printed as Markdown tables (bench/run.py:
# start-up cost, peak memory, registry files up to 100 MB, a real Java VM).
# Needs hyperfine: installed here as root, else named.
.PHONY: bench
bench: deps
	@if ! command -v hyperfine >/dev/null 2>&1; then \
	  if [ "$$(id -u)" != 0 ]; then \
	    echo "make: bench needs hyperfine: as root, apt-get install hyperfine" >&2; \
	    exit 1; \
	  fi; \
	  echo "make: installing hyperfine"; \
	  DEBIAN_FRONTEND=noninteractive apt-get update -qq </dev/null && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends hyperfine </dev/null; \
	fi
	cmake --preset native
	cmake --build --preset native
	python3 bench/run.py

clean:
	@if [ -d build/windows-i686/wineprefix ]; then \
	  WINEPREFIX=$$PWD/build/windows-i686/wineprefix wineserver -k 2>/dev/null || true; \
	fi
	rm -rf build
