# Entry points: `make test` runs every test (native unit and end-to-end
# tests, the same under sanitizers, static analysis, the shipped programs'
# tests with valgrind and inside the build root, the aarch64 programs'
# tests under qemu-user, the fuzzers and the two-fold build of make
# reproduce when CI=true, the Windows builds, make package with the checks
# of its packages, and last make sign and make verify-release with
# throw-away keys); `make demo` runs both
# launchers on a sample installation with a real Java VM. Each target first
# sets up what it needs (tools/setup-deps.sh).
.DEFAULT_GOAL := test
.PHONY: test demo native asan lint shipped windows package bench clean
# The legs run one after the other, native first, even under make -j.
.NOTPARALLEL:

DEPS := deps-demo deps-test deps-fuzz deps-bench deps-package deps-reproduce \
        deps-sign
.PHONY: $(DEPS)
$(DEPS): deps-%:
	@tools/setup-deps.sh $*

# The host's compiler and C library: unit and end-to-end tests, the checks
# of the programs' files. The valgrind and seccomp legs run once, in the
# shipped leg below, against the programs that are packaged.
native: deps-test
	cmake --preset native
	cmake --build --preset native
	ctest --preset native --label-exclude 'valgrind|seccomp'

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

# The shipped Linux programs: the linux-x86_64 tree that make package packs,
# built by the build root's compiler against its C library. Their unit and
# end-to-end tests, the checks of their hardening and of the oldest systems
# they need (glibc 2.17, Linux 3.10), each end-to-end suite under valgrind
# (this machine's: the root's is too old for close_range) and as on Linux
# 3.10, and once more inside the root, on its glibc 2.31 (the chroot leg).
# The root is made here as root, once per machine (about four minutes), and
# reused. Another user without one skips this leg, saying why, and runs the
# valgrind and seccomp legs on the native build instead; with CI=true the
# skip is a failure.
shipped: deps-test
	@set -e; status=0; \
	tools/build_root.py make >/dev/null || status=$$?; \
	if [ $$status = 77 ] && [ "$${CI:-}" != true ]; then \
	  echo "make: the shipped programs' leg skipped; the valgrind and" \
	       "seccomp legs run on the native build"; \
	  ctest --preset native --label-regex 'valgrind|seccomp'; \
	  exit 0; \
	fi; \
	if [ $$status != 0 ]; then \
	  [ $$status != 77 ] || echo "make: CI=true needs the shipped programs' leg" >&2; \
	  exit 1; \
	fi; \
	echo "make: the shipped programs (linux-x86_64, built in the build root)"; \
	cmake --preset linux-x86_64; \
	cmake --build --preset linux-x86_64; \
	ctest --preset linux-x86_64

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

# native first: the quickest to build, and the host's tools say the most
# about a fault. The shipped leg comes after the cheaper checks, so that a
# change they refuse does not first wait for the build root, and before
# make reproduce, which builds against the same root.
test: setup-test native asan lint shipped aarch64 fuzz-ci reproduce-ci windows \
      package-check sign-check

# The Debian 11 root that the shipped Linux programs are built against
# (tools/build_root.py): made once per machine, as root, in
# /var/cache/talvane-launchers, and reused while tools/build-root.list is
# unchanged.
.PHONY: build-root
build-root: deps-package
	tools/build_root.py make

# Packages, in each build tree's packages/: the .tar.gz, .deb and .rpm of
# the x86_64 and aarch64 Linux builds against the build root, the ZIP of the
# 32-bit Windows build (the product; the x86_64 build only tests the same
# code), each with the licences and the bill of materials of what its
# programs' links used, the bill also beside them. Needs no Wine. Then
# build/packages/SHA256SUMS over the programs, packages and bills, and
# beside it the versions of the tools that made and check them and the
# build root's packages (TOOL-VERSIONS).
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

# The packages as make package leaves them. The .rpm of each Linux build
# (tools/check_rpm.py): rpmlint, the .deb's header fields, no directory
# owned but its own; as root, an install into a scratch root, rpm -V, its
# programs run on a sample installation, and its removal. Every package
# (tools/check_packages.py): lintian on each .deb; each bill of materials
# valid CycloneDX 1.6 to the CycloneDX library, its components those of the
# link maps, its programs those the packages hold; the licences in each.
# Then the finding of what the link used, against a link map with one
# member more (tools/linked_components_test.py). As another user the
# .rpm's install is skipped, and so is all of it where there is no build
# root (only root makes one); with CI=true either is a failure.
.PHONY: package-check
package-check: deps-test deps-package
	@status=0; tools/build_root.py make >/dev/null || status=$$?; \
	if [ $$status -eq 77 ]; then \
	  if [ "$${CI:-}" = true ]; then \
	    echo "make: CI=true needs the package checks" >&2; \
	    exit 1; \
	  fi; \
	  echo "make: the package checks skipped: no build root to build the packages"; \
	  exit 0; \
	fi; \
	[ $$status -eq 0 ] || exit $$status; \
	$(MAKE) --no-print-directory package && tools/check_rpm.py && \
	  tools/check_packages.py && python3 -B tools/linked_components_test.py

# The release that make package left signed in place (tools/sign_release.py),
# with the keys that the environment names (SIGN_PKCS11_MODULE,
# SIGN_PKCS11_KEY, SIGN_CERT and SIGN_PIN_FILE, or SIGN_PKCS12 and
# SIGN_PASSWORD_FILE; GPG_KEY): the Windows programs in the ZIP and their
# detached signatures, the .rpm packages, SHA256SUMS. Without them it says
# what it needs and changes nothing.
.PHONY: sign verify-release sign-check
sign: deps-sign
	tools/sign_release.py

# A published release against the commit it names (tools/verify_release.py):
# rebuilt, the published signatures put into the rebuilt programs, every
# file compared, every signature checked. RELEASE names the published
# files, CA the certificate authority of the Windows programs' signatures,
# OPENPGP_KEY the public key of SHA256SUMS and the .rpm packages.
verify-release: deps-reproduce deps-sign
	@if [ -z "$(RELEASE)" ] || [ -z "$(CA)" ] || [ -z "$(OPENPGP_KEY)" ]; then \
	  echo "make: verify-release needs RELEASE=<the published files>" \
	       "CA=<their certificate authority, PEM>" \
	       "OPENPGP_KEY=<their OpenPGP public key>" >&2; \
	  exit 2; \
	fi
	tools/verify_release.py --release "$(RELEASE)" --ca "$(CA)" \
	  --openpgp-key "$(OPENPGP_KEY)"

# make sign and make verify-release with throw-away keys (a SoftHSM2 token,
# a PKCS#12 file, an OpenPGP key) on a copy of make package's release
# (tools/signing_test.py), made first where it is missing or signed. A
# missing tool skips it, saying why, except with CI=true.
sign-check: deps-test
	@set -e; \
	if [ ! -f build/packages/SHA256SUMS ] || [ -f build/packages/SHA256SUMS.asc ]; then \
	  $(MAKE) --no-print-directory package; \
	fi; \
	status=0; python3 -B tools/signing_test.py || status=$$?; \
	if [ $$status = 77 ]; then \
	  echo "make: the signing checks skipped"; \
	  exit 0; \
	fi; \
	exit $$status

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

# Benchmarks of the shipped Linux programs (linux-x86_64, built in the build
# root), printed as Markdown tables (bench/run.py: start-up cost, peak
# memory, registry files up to 100 MB, a real Java VM).
bench: deps-bench
	tools/build_root.py make >/dev/null
	cmake --preset linux-x86_64
	cmake --build --preset linux-x86_64
	python3 bench/run.py --build-dir build/linux-x86_64

clean:
	@for prefix in build/windows-*/wineprefix; do \
	  [ -d "$$prefix" ] || continue; \
	  WINEPREFIX=$$PWD/$$prefix wineserver -k 2>/dev/null || true; \
	done
	rm -rf build
