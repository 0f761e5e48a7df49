#!/usr/bin/env bash
# Installs what the named make targets need and is missing, on Debian and as
# root; run by another user it names what to install. When everything is
# there it calls no apt command at all. Each step says in one line what it
# does.
#
#   tools/setup-deps.sh TARGET...   demo, test, fuzz, bench, package, reproduce,
#                                   sign
#
# A package list that cannot be fetched (a mirror in the middle of a sync)
# is a warning: the install goes on with the lists that are there. An
# install the resolver refuses is tried once more with the release's own
# packages. Only when packages still cannot be had does it stop, naming them
# and the command to run.
#
# For the test target it also installs the CycloneDX library that checks
# the packages' bills of materials, with its schema validators, at the
# versions of tools/sbom/package-lock.json (npm ci), once per machine and
# lockfile, into a directory of the build root's cache (LAUNCHER_ROOT_CACHE,
# else /var/cache/talvane-launchers) that every account reads; npm's own
# cache then serves a new lockfile's packages it has seen, offline.
#
# The Windows leg's Wine is wanted but not required: make test decides by
# running it (tools/windows-leg.sh) and, unless CI=true, skips that leg
# without it. The 32-bit Wine is asked for only where this kernel runs
# 32-bit programs. So is the Japanese locale's source, from which the leg's
# code page 932 cases compile a locale with localedef (else skipped).
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

say() { echo "setup-deps: $*"; }

required=()  # "command:package" or ":package"; the command, if there, will do
validator=false  # the CycloneDX library (npm ci), for the test target
wanted=()    # Wine and a locale's source, for the Windows leg
wanted32=()  # the 32-bit Wine, apart: its i386 packages are the likeliest
             # to be refused, and the 64-bit leg does without them

need() { required+=("$@"); }
want() { wanted+=("$@"); }
want32() { wanted32+=("$@"); }

native_build=(cmake:cmake g++:g++ make:make python3:python3
              :libgtest-dev :libgmock-dev)
jdk=(javac:default-jdk-headless)
mingw_i686=(i686-w64-mingw32-g++:g++-mingw-w64-i686
            i686-w64-mingw32-windres:binutils-mingw-w64-i686)
mingw_x86_64=(x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64
              x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64)
clang=(clang:clang :libclang-rt-dev)
# The aarch64 programs: the build root's cross compiler assembles and links
# with this machine's aarch64 binutils (cmake/toolchain-linux-aarch64.cmake),
# and their tests run under qemu-user, their listing at the build included.
aarch64=(aarch64-linux-gnu-as:binutils-aarch64-linux-gnu
         qemu-aarch64:qemu-user)
# make sign: osslsigncode signs the Windows programs, with a key in a token
# through OpenSSL's PKCS#11 engine; gpg and rpmsign sign SHA256SUMS and the
# .rpm packages.
signing=(osslsigncode:osslsigncode :libengine-pkcs11-openssl gpg:gnupg
         rpmsign:rpm)

for target in "$@"; do
  case $target in
    demo) need cmake:cmake g++:g++ make:make "${jdk[@]}" ;;
    test)
      validator=true
      need "${native_build[@]}" "${jdk[@]}" "${clang[@]}" \
           valgrind:valgrind clang-tidy:clang-tidy cppcheck:cppcheck \
           unshare:util-linux setpriv:util-linux debootstrap:debootstrap \
           rpmlint:rpmlint lintian:lintian node:nodejs npm:npm \
           "${mingw_i686[@]}" "${mingw_x86_64[@]}" "${aarch64[@]}" \
           "${signing[@]}" openssl:openssl softhsm2-util:softhsm2 \
           pkcs11-tool:opensc
      want wine:wine :wine64 localedef:libc-bin :locales
      if tools/windows-leg.sh --kernel; then want32 :wine32:i386; fi ;;
    fuzz) need "${native_build[@]}" "${clang[@]}" ;;
    bench) need "${native_build[@]}" "${jdk[@]}" hyperfine:hyperfine \
                debootstrap:debootstrap ;;
    package|reproduce)
      # debootstrap makes the build root of the Linux programs
      # (tools/build_root.py), once per machine; rpmbuild their .rpm.
      # TOOL-VERSIONS names the osslsigncode that make sign will use.
      need "${native_build[@]}" dpkg-deb:dpkg debootstrap:debootstrap \
           rpmbuild:rpm "${aarch64[@]}" "${mingw_i686[@]}" \
           osslsigncode:osslsigncode
      [[ $target == reproduce ]] && need git:git setpriv:util-linux ;;
    sign) need "${signing[@]}" ;;
    *) say "unknown target '$target' (demo, test, fuzz, bench, package," \
           "reproduce, sign)" >&2
       exit 2 ;;
  esac
done

installed() {  # installed PACKAGE
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == *" installed" ]]
}

# The packages of the given requirements that are missing, one a line.
missing_of() {
  local requirement command package
  for requirement in "$@"; do
    command=${requirement%%:*} package=${requirement#*:}
    [[ -n $command ]] && command -v "$command" >/dev/null 2>&1 && continue
    installed "$package" || echo "$package"
  done | sort -u
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  say "not a Debian system: install the tools for '$*' yourself (see README.md)"
  exit 0
fi

# Where npm ci puts the CycloneDX library: named by the lockfile's hash,
# so that a changed lockfile installs anew.
validator_dir="${LAUNCHER_ROOT_CACHE:-/var/cache/talvane-launchers}/cyclonedx-$(
  sha256sum < tools/sbom/package-lock.json | cut -c1-16)"
validator_missing() {
  $validator && [[ ! -f $validator_dir/node_modules/@cyclonedx/cyclonedx-library/package.json ]]
}

# npm ci into a scratch directory renamed into place when complete, so that
# a run that dies leaves nothing half-made.
install_validator() {
  local scratch
  say "installing the CycloneDX library and its schema validators into" \
      "$validator_dir (npm ci, tools/sbom/package-lock.json)"
  mkdir -p "$(dirname "$validator_dir")" &&
  scratch=$(mktemp -d "$validator_dir.XXXXXX") &&
  cp tools/sbom/package.json tools/sbom/package-lock.json "$scratch/" &&
  (cd "$scratch" && npm ci --ignore-scripts --no-audit --no-fund \
     --omit=optional --prefer-offline </dev/null) &&
  chmod -R a+rX "$scratch" && rm -rf "$validator_dir" &&
  mv "$scratch" "$validator_dir" && return 0
  [[ -n ${scratch:-} ]] && rm -rf "$scratch"
  say "could not install the CycloneDX library: npm ci failed in" \
      "$validator_dir" >&2
  return 1
}

say "checking what '$*' needs"
mapfile -t missing < <(missing_of "${required[@]}")
mapfile -t missing_wanted < <(missing_of "${wanted[@]}")
mapfile -t missing_wanted32 < <(missing_of "${wanted32[@]}")
all=("${missing[@]}" "${missing_wanted[@]}" "${missing_wanted32[@]}")
if ((${#all[@]} == 0)); then
  if validator_missing; then
    if ((EUID != 0)); then
      say "missing: the CycloneDX library in $validator_dir" >&2
      say "as root, run: tools/setup-deps.sh $*" >&2
      exit 1
    fi
    install_validator || exit 1
  fi
  say "all there"
  exit 0
fi
say "missing: ${all[*]}"

# The i386 architecture comes first, for wine32:i386.
foreign_architecture=false
if [[ " ${all[*]} " == *":i386 "* ]] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  foreign_architecture=true
fi

install_command() {
  local steps="apt-get update && apt-get install $*"
  $foreign_architecture && steps="dpkg --add-architecture i386 && $steps"
  echo "$steps"
}

if ((EUID != 0)); then
  if ((${#missing[@]} > 0)); then
    say "missing: ${missing[*]}" >&2
    say "as root, run: tools/setup-deps.sh $* (or: $(install_command "${all[@]}"))" >&2
    exit 1
  fi
  say "missing, for the Windows leg under Wine:" \
      "${missing_wanted[*]} ${missing_wanted32[*]}"
  say "as root, run: $(install_command "${missing_wanted[@]}" \
                                        "${missing_wanted32[@]}")"
  if validator_missing; then
    say "missing: the CycloneDX library in $validator_dir; as root, run:" \
        "tools/setup-deps.sh $*" >&2
    exit 1
  fi
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if $foreign_architecture; then
  say "enabling the i386 architecture (dpkg --add-architecture i386)"
  dpkg --add-architecture i386
fi
say "updating the package lists (apt-get update)"
if ! apt-get update -qq </dev/null; then
  say "warning: some package lists could not be fetched; going on with the" \
      "lists that are there"
fi

apt_install() {
  apt-get install -y -qq --no-install-recommends "$@" </dev/null
}

# Installs one group; a refusal by the resolver (say, amd64 packages at the
# security suite's versions and their i386 twins only at the release's) is
# tried once more with the release's own packages.
install_group() {  # install_group WHAT PACKAGE...
  local what=$1 codename
  shift
  (($# > 0)) || return 0
  say "installing $what: $*"
  apt_install "$@" && return 0
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || return 1
  say "that failed; once more with the packages of $codename itself" \
      "(apt-get install -t $codename)"
  apt_install -t "$codename" "$@"
}

# Apart, so that a Wine that cannot be had leaves the rest installed.
install_group "what '$*' needs" "${missing[@]}"
install_group "Wine and the locales, for the Windows leg" \
  "${missing_wanted[@]}"
install_group "the 32-bit Wine" "${missing_wanted32[@]}"

mapfile -t still < <(missing_of "${required[@]}")
mapfile -t still_wanted < <(missing_of "${wanted[@]}" "${wanted32[@]}")
if ((${#still_wanted[@]} > 0)); then
  say "warning: not installed, for the Windows leg under Wine:" \
      "${still_wanted[*]}"
fi
if ((${#still[@]} > 0)); then
  say "could not install: ${still[*]}; fix the package sources, then run:" \
      "$(install_command "${still[@]}")" >&2
  exit 1
fi
if validator_missing; then
  install_validator || exit 1
fi
say "done"
