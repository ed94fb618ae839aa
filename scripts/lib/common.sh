# Shared helpers of the scripts in scripts/: where the repository is, how to
# report, and how to install missing Debian packages without prompting.
# Sourced, never run.

QUILL_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# What building and testing need on Debian 12; chromium, node and npm for
# the browser test of the sample shop; nginx for the test of the page host
# behind a proxy.
QUILL_PACKAGES=(build-essential cmake g++ clang pkg-config libgtest-dev libgmock-dev googletest
                libmariadb-dev mariadb-server mariadb-client duktape-dev libcpp-httplib-dev
                chromium curl ccache nginx-light)
# A node installed some other way (with its own npm) is used as it is;
# Debian's own packages come in only where there is none.
if ! command -v node >/dev/null 2>&1; then
  QUILL_PACKAGES+=(nodejs npm)
elif ! command -v npm >/dev/null 2>&1; then
  QUILL_PACKAGES+=(npm)
fi

# The sakila sample database is an optional extra that lives outside the
# repository: $QUILL_SAKILA_DIR, or ../shared/data/sakila beside the checkout.
# quill_sakila_dir prints the folder when it holds both files, and fails
# (printing nothing) otherwise.
QUILL_SAKILA_HINT="set QUILL_SAKILA_DIR to a folder holding sakila-schema.sql and sakila-data.sql to run them"
quill_sakila_dir() {
  local d="${QUILL_SAKILA_DIR:-$QUILL_REPO/../shared/data/sakila}"
  [ -f "$d/sakila-schema.sql" ] && [ -f "$d/sakila-data.sql" ] || return 1
  (cd "$d" && pwd)
}

# What the sample shop needs built: the page host, the module, the runtime.
QUILL_DEMO_TARGETS=(quill-asp Quill olert)

# quill_configure DIR [CMAKE-ARG...]: configures the project's own build in
# DIR: Release, warnings as errors, and through ccache when the machine has
# it, so that a second build of the same sources (a fresh clone's, say)
# reuses the compiled objects. Later arguments win over these.
quill_configure() {
  local dir="$1" launcher=()
  shift
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths inside the checkout become relative, so that two checkouts of
    # the same sources share the cache.
    export CCACHE_BASEDIR="$QUILL_REPO" CCACHE_NOHASHDIR=1
  fi
  cmake -S "$QUILL_REPO" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUILL_WERROR=ON "${launcher[@]}" "$@"
}

quill_say() { printf '%s: %s\n' "${QUILL_SCRIPT:-quill}" "$*" >&2; }
quill_die() { quill_say "error: $*"; exit 1; }

# Runs a command as root: directly when we are root, through a non-prompting
# sudo otherwise.
quill_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo -n "$@"
  else
    quill_die "need root to run: $*"
  fi
}

quill_package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs those of the given Debian packages that are missing; does nothing
# (and needs no root) when all are there.
quill_ensure_packages() {
  local missing=() p
  for p in "$@"; do
    quill_package_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  command -v apt-get >/dev/null 2>&1 || quill_die "missing packages and no apt-get: ${missing[*]}"
  quill_say "installing ${missing[*]}"
  # The database package would start the system-wide server from its install
  # script; the tests use a private instance, so keep the system one down
  # unless this machine already has a policy of its own.
  local policy=/usr/sbin/policy-rc.d own_policy=0
  if [ ! -e "$policy" ]; then
    quill_as_root sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
    own_policy=1
  fi
  local rc=0
  export DEBIAN_FRONTEND=noninteractive
  if [ -z "${QUILL_APT_UPDATED:-}" ]; then
    quill_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null || rc=$?
    export QUILL_APT_UPDATED=1
  fi
  if [ $rc -eq 0 ]; then
    quill_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends "${missing[@]}" </dev/null || rc=$?
  fi
  [ $own_policy -eq 1 ] && quill_as_root rm -f "$policy"
  [ $rc -eq 0 ] || quill_die "apt-get failed ($rc) installing ${missing[*]}"
}
