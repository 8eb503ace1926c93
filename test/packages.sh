#!/usr/bin/env bash
# The Debian packages as a user gets them, on a machine of their own (CI,
# as root): built from a clean clone, free of lintian errors, warnings and
# unexplained tags, installed, hardened, put through their autopkgtest
# (debian/tests: the README's consumers, each pkg-config module on its own,
# the Python modules, the tool from PATH), and purged without a trace.
set -euo pipefail
cd "$(dirname "$0")/.."
readonly OUT=$PWD/build/packages
WORK=$(mktemp -d)
readonly WORK
trap 'rm -rf "$WORK"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The test command has run the test suite on this tree already.
DEB_BUILD_OPTIONS=nocheck tools/dev package "$OUT"
# Every informational and pedantic tag kept is overridden in debian/, with
# its reason, so any tag at all is a failure.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
  "$OUT"/*.changes

mapfile -t debs < <(ls "$OUT"/*.deb)
mapfile -t packages < <(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
field() { dpkg-deb -f "$OUT/$1"_*.deb "$2"; }
[[ $(field libostrel-dev Depends) == *'libprotobuf-dev (>= 3.21.0), libprotobuf-dev (<< 3.22~)'* &&
  $(field libostrel-dev Suggests) == protobuf-compiler ]] ||
  fail "libostrel-dev: Depends $(field libostrel-dev Depends), Suggests $(field libostrel-dev Suggests)"
# Each library package: co-installable across architectures, registered
# with the loader by trigger, and the dependency that programs built
# against it get.
libraries=0
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  [[ $package =~ ^libostrel-.*[0-9]$ ]] || continue
  libraries=$((libraries + 1))
  [[ $(dpkg-deb -f "$deb" Multi-Arch) == same ]] || fail "$package is not Multi-Arch: same"
  [[ $(dpkg-deb -I "$deb" triggers) == *'activate-noawait ldconfig'* ]] ||
    fail "$package: no ldconfig trigger"
  [[ $(dpkg-deb -I "$deb" shlibs) =~ ^libostrel_[a-z0-9_]+\ [0-9]+\ $package\ \(\>=\ [0-9.]+\)$ ]] ||
    fail "$package shlibs: $(dpkg-deb -I "$deb" shlibs)"
done
((libraries == $(grep -c '^Package: libostrel-.*[0-9]$' debian/control))) ||
  fail "$libraries library packages built"

DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${debs[@]}"
mapfile -t installed < <(dpkg -L "${packages[@]}" | grep -v -x -F /. | sort -u)
# Hardened: read-only relocations bound at load time.
for file in "${installed[@]}"; do
  [[ -f $file && ! -L $file && $file != /usr/lib/debug/* ]] || continue
  readelf -h "$file" >/dev/null 2>&1 || continue
  readelf -d "$file" | grep 'FLAGS.*BIND_NOW' >/dev/null &&
    readelf -l "$file" | grep GNU_RELRO >/dev/null ||
    fail "$file: not linked with -z relro -z now"
done

# The packages' autopkgtest (debian/tests), run on this machine (the null
# runner), from a clean clone of the tree that the packages were built from.
git clone --quiet --no-local . "$WORK/source"
git -C "$WORK/source" checkout --quiet --detach "$(git rev-parse HEAD)"
autopkgtest "$WORK/source/" "${debs[@]}" -- null


DEBIAN_FRONTEND=noninteractive apt-get purge -y "${packages[@]}"
# What is left is what other packages own, and nothing of ours: no byte
# code, no folder.
for path in "${installed[@]}"; do
  [[ ! -e $path ]] || dpkg -S "$path" >/dev/null 2>&1 || fail "left after purge: $path"
done
left=$(find /usr /etc /var/lib \( -path /var/lib/apt -o -path "$PWD" \) -prune -o \
  \( -name '*ostrel*' -o -name 'agg-l3*' -o -name 'agg_svc*' \) -print)
[[ -z $left ]] || fail "left after purge: $left"
echo "Debian packages: ${#packages[@]} built, lintian-clean, installed, used and purged"
