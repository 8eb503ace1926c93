#!/usr/bin/env bash
# Uses the installed tree and the .deb packages the way a program outside
# this project does. Usage: installed.sh stage|layout|cmake|pkg-config|python|deb
# with the build's facts in the environment (see CMakeLists.txt here).
set -euo pipefail

readonly SCHEMAS=(ostrel/ruk/core_types ostrel/ruk/agg_service/agg_svc_common_types
  ostrel/ruk/agg_service/l3/agg_svc_l3_msg)
readonly STAGE=$WORK_DIR/stage
readonly CONSUMER=$SOURCE_DIR/consumer

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What each package holds, relative to the prefix.
runtime_files() {
  for s in "${SCHEMAS[@]}"; do
    echo "$LIBDIR/libostrel_${s##*/}.so.1"
    echo "$LIBDIR/libostrel_${s##*/}.so.$VERSION"
  done
}
development_files() {
  for s in "${SCHEMAS[@]}"; do
    echo "$INCLUDEDIR/$s.pb.h"
    echo "$INCLUDEDIR/$s.proto"
    echo "$LIBDIR/libostrel_${s##*/}.so"
    echo "$LIBDIR/pkgconfig/ostrel_${s##*/}.pc"
  done
  for f in ostrelConfig ostrelConfigVersion ostrelTargets OstrelLinking; do
    echo "$LIBDIR/cmake/ostrel/$f.cmake"
  done
}
python_files() {
  [[ -n $PYTHONDIR ]] || return 0
  for s in "${SCHEMAS[@]}"; do
    echo "$PYTHONDIR/${s}_pb2.py"
  done
  echo "$PYTHONDIR"/{ostrel,ostrel/ruk,ostrel/ruk/agg_service,ostrel/ruk/agg_service/l3}/__init__.py
}
tool_files() {
  [[ -z $TOOL ]] || echo "$CMAKE_INSTALL_BINDIR/$TOOL"
}

# Compares the files (not directories) found under ROOT with the list on
# stdin, leaving out the per-configuration targets files.
expect_files() {
  local root=$1 listing=$2
  diff -u <(sort) <(sed -n 's|^[^d].* \./||p' "$listing" | sed 's| -> .*||' |
    grep -v '/ostrelTargets-.*\.cmake$' | sort) || fail "$root: files differ"
}

# Every libostrel that BINARY loads comes from LIBDIR: the three of them.
expect_loads_from() {
  local libdir=$1 binary=$2 ours
  ours=$(ldd "$binary" | grep libostrel_ || true)
  [[ $(grep -c "=> $libdir/libostrel_.*\.so\.1 " <<<"$ours") == 3 ]] ||
    fail "$binary loads, instead of the three libraries in $libdir: $ours"
}

build_with_cmake() {
  local prefix=$1 dir=$2
  rm -rf "$dir"
  cmake -S "$CONSUMER" -B "$dir" -G "$GENERATOR" -DCMAKE_PREFIX_PATH="$prefix"
  grep -q "^ostrel_DIR:PATH=$prefix/" "$dir/CMakeCache.txt" ||
    fail "the consumer found another ostrel package: $(grep ^ostrel_DIR "$dir/CMakeCache.txt")"
  cmake --build "$dir"
  for program in route_report lookup_by_name; do
    expect_loads_from "$prefix/$LIBDIR" "$dir/$program"
    "$dir/$program"
  done
}

build_with_pkg_config() {
  local prefix=$1 dir=$2
  rm -rf "$dir" && mkdir -p "$dir"
  for program in route_report lookup_by_name; do
    (cd "$CONSUMER" && PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig \
      c++ $program.cc $(PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig pkg-config --cflags --libs ostrel_agg_svc_l3_msg) -o "$dir/$program")
    LD_LIBRARY_PATH=$prefix/$LIBDIR expect_loads_from "$prefix/$LIBDIR" "$dir/$program"
    LD_LIBRARY_PATH=$prefix/$LIBDIR "$dir/$program"
  done
}
