#!/usr/bin/env bash
# Uses the installed tree the way a program outside this project does:
# the tree that `cmake --install` writes (stage, then layout, cmake,
# pkg-config, python), or the installed Debian packages (system).
# Usage: installed.sh stage|layout|cmake|pkg-config|python|system
# with the build's facts in the environment (set in CMakeLists.txt here).
set -euo pipefail

readonly SCHEMAS=(ostrel/ruk/core_types ostrel/ruk/agg_service/agg_svc_common_types
  ostrel/ruk/agg_service/l3/agg_svc_l3_msg)
readonly STAGE=$WORK_DIR/stage
readonly CONSUMER=$SOURCE_DIR/consumer

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What the install holds, relative to the prefix.
runtime_files() {
  for lib in "${SCHEMAS[@]##*/}" report_diff; do
    echo "$LIBDIR/libostrel_$lib.so.1"
    echo "$LIBDIR/libostrel_$lib.so.$VERSION"
  done
  echo "$LIBDIR/libostrel_report_stream.so.2"
  echo "$LIBDIR/libostrel_report_stream.so.2.0.0"
}
development_files() {
  for s in "${SCHEMAS[@]}"; do
    echo "$INCLUDEDIR/$s.pb.h"
    echo "$INCLUDEDIR/$s.proto"
    echo "$LIBDIR/libostrel_${s##*/}.so"
    echo "$LIBDIR/pkgconfig/ostrel_${s##*/}.pc"
  done
  echo "$INCLUDEDIR/ostrel/report_stream.h"
  echo "$LIBDIR/libostrel_report_stream.so"
  echo "$LIBDIR/pkgconfig/ostrel_report_stream.pc"
  echo "$INCLUDEDIR/ostrel/report_diff.h"
  echo "$LIBDIR/libostrel_report_diff.so"
  echo "$LIBDIR/pkgconfig/ostrel_report_diff.pc"
  for f in ostrelConfig ostrelConfigVersion ostrelTargets OstrelLinking; do
    echo "$LIBDIR/cmake/ostrel/$f.cmake"
  done
}
python_files() {
  [[ -n $PYTHONDIR ]] || return 0
  for s in "${SCHEMAS[@]}"; do
    echo "$PYTHONDIR/${s}_pb2.py"
  done
  for p in ostrel ostrel/ruk ostrel/ruk/agg_service ostrel/ruk/agg_service/l3; do
    echo "$PYTHONDIR/$p/__init__.py"
  done
}
tool_files() {
  [[ -n $TOOL ]] || return 0
  echo "$BINDIR/$TOOL"
  echo "$MANDIR/man1/$TOOL.1"
  echo "$DATADIR/bash-completion/completions/$TOOL"
}

# Fails unless two lists of files, one a line, hold the same files.
same_files() {
  diff -u <(sort <<<"$2") <(sort <<<"$3") >&2 || fail "$1: files differ (-expected +found)"
}

# Every libostrel that BINARY loads comes from LIBDIR, the three schema
# libraries at least.
expect_loads_from() {
  local libdir binary=$2 ours found
  libdir=$(realpath "$1")
  ours=$(ldd "$binary" | awk '/libostrel_/ {print $3}' | xargs -r realpath -m)
  found=$(grep -c "^$libdir/libostrel_[a-z0-9_]*\.so\.[0-9]" <<<"$ours" || true)
  [[ $found -ge 3 && $found == $(wc -l <<<"$ours") ]] ||
    fail "$binary loads, instead of the libraries of $libdir: $ours"
}

# Runs each consumer program, which fails on a wrong result itself.
readonly PROGRAMS=(route_report lookup_by_name stream_routes diff_routes)

# The consumers built against PREFIX in DIR, with what the README says to
# add for a PREFIX other than /usr.
build_with_cmake() {
  local prefix=$1 dir=$2 options=()
  [[ $prefix == /usr ]] || options=(-DCMAKE_PREFIX_PATH="$prefix")
  rm -rf "$dir"
  cmake -S "$CONSUMER" -B "$dir" -G "$GENERATOR" "${options[@]}"
  grep -q "^ostrel_DIR:PATH=$prefix/$LIBDIR/cmake/ostrel$" "$dir/CMakeCache.txt" ||
    fail "found another ostrel package: $(grep ^ostrel_DIR "$dir/CMakeCache.txt")"
  cmake --build "$dir"
  for program in "${PROGRAMS[@]}"; do
    expect_loads_from "$prefix/$LIBDIR" "$dir/$program"
    "$dir/$program"
  done
}

build_with_pkg_config() (
  local prefix=$1 dir=$2
  [[ $prefix == /usr ]] ||
    export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig LD_LIBRARY_PATH=$prefix/$LIBDIR
  rm -rf "$dir" && mkdir -p "$dir"
  cp "$CONSUMER"/*.cc "$SOURCE_DIR/../../examples/cpp/stream_routes.cc" \
    "$SOURCE_DIR/../../examples/cpp/diff_routes.cc" "$dir"
  cd "$dir"
  bash -euo pipefail "$CONSUMER/pkg-config.sh"
  for program in "${PROGRAMS[@]}"; do
    expect_loads_from "$prefix/$LIBDIR" "$program"
    "./$program"
  done
)

python3_with() {
  PYTHONPATH=$1/$PYTHONDIR "$PYTHON3" -s -B "${@:2}"
}

case $1 in
  stage)
    rm -rf "$STAGE"
    cmake --install "$BUILD_DIR" --prefix "$STAGE"
    ;;
  layout)
    same_files "$STAGE" "$(runtime_files; development_files; python_files; tool_files)" \
      "$(cd "$STAGE" && find . ! -type d ! -name 'ostrelTargets-*' | sed 's|^\./||')"
    for s in "${SCHEMAS[@]}"; do
      readelf -d "$STAGE/$LIBDIR/libostrel_${s##*/}.so.1" >"$WORK_DIR/dynamic"
      grep -q "SONAME.*\[libostrel_${s##*/}\.so\.1\]" "$WORK_DIR/dynamic" &&
        grep -q 'RUNPATH.*\[\$ORIGIN\]$' "$WORK_DIR/dynamic" ||
        fail "libostrel_${s##*/}: wrong SONAME or RUNPATH: $(cat "$WORK_DIR/dynamic")"
    done
    # Another project's schema imports ours from the installed tree alone.
    printf '%s\n' 'syntax = "proto2";' \
      'import "ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto";' \
      'message Archive { repeated ostrel.ruk.agg_service.l3.RouteTableMsg table = 1; }' \
      >"$WORK_DIR/archive.proto"
    protoc -I "$STAGE/$INCLUDEDIR" -I "$WORK_DIR" --descriptor_set_out=/dev/null \
      "$WORK_DIR/archive.proto"
    ;;
  cmake)
    build_with_cmake "$STAGE" "$WORK_DIR/cmake-consumer"
    ;;
  pkg-config)
    build_with_pkg_config "$STAGE" "$WORK_DIR/pkg-config-consumer"
    ;;
  python)
    for implementation in cpp python; do
      PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=$implementation python3_with "$STAGE" \
        "$SOURCE_DIR/check_wire_vectors.py" "$SOURCE_DIR/../wire_vectors.txt" "$STAGE/$PYTHONDIR"
    done
    # The same report from C++ and from Python is the same bytes.
    from_cpp=$("$WORK_DIR/cmake-consumer/route_report")
    from_python=$(python3_with "$STAGE" "$CONSUMER/route_report.py")
    [[ $from_python == "$from_cpp" ]] || fail "Python: $from_python, C++: $from_cpp"
    ;;
  system)
    build_with_cmake /usr "$WORK_DIR/cmake-consumer"
    build_with_pkg_config /usr "$WORK_DIR/pkg-config-consumer"
    # Debian's python3, as a user runs it: byte code where the packages put it.
    from_cpp=$("$WORK_DIR/cmake-consumer/route_report")
    from_python=$(/usr/bin/python3 "$CONSUMER/route_report.py")
    [[ $from_python == "$from_cpp" ]] || fail "Python: $from_python, C++: $from_cpp"
    ;;
  *)
    fail "unknown mode $1"
    ;;
esac
