#!/usr/bin/env bash
# Uses the installed tree the way a program outside this project does:
# the tree that `cmake --install` writes (stage, then layout, cmake,
# pkg-config, python), or the installed Debian packages (the system-*
# modes, which debian/tests runs).
# Usage: installed.sh stage|layout|cmake|pkg-config|python|grpc
#                     |system-cmake|system-pkg-config|system-python|system-tool
#                     |system-grpc
# with the build's facts in the environment (set in CMakeLists.txt here, and
# in debian/tests/installed).
set -euo pipefail

readonly SCHEMAS=(ostrel/ruk/core_types ostrel/ruk/agg_service/agg_svc_common_types
  ostrel/ruk/agg_service/l3/agg_svc_l3_msg)
readonly STAGE=$WORK_DIR/stage
readonly CONSUMER=$SOURCE_DIR/consumer

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# What the install holds, relative to the prefix: see layout.txt.
expected_files() {
  local part path
  while read -r part path; do
    if [[ $part == all || ($part == python && -n $PYTHONDIR) ||
      ($part == tool && -n $TOOL) ]]; then
      eval "echo \"$path\""
    fi
  done < <(grep -v '^#' "$SOURCE_DIR/layout.txt")
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

# Each pkg-config module alone brings all that a program using its header
# needs: its Requires, its flags, canonical paths.
build_each_module() (
  local prefix=$1 dir=$2 module includes statement
  [[ $prefix == /usr ]] ||
    export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig LD_LIBRARY_PATH=$prefix/$LIBDIR
  rm -rf "$dir" && mkdir -p "$dir"
  diff -u <(cd "$prefix/$LIBDIR/pkgconfig" && ls ostrel_*.pc | sed 's/\.pc$//') \
    <(cut -d'|' -f1 <<<"$MODULE_PROGRAMS" | sort) >&2 ||
    fail "the modules installed (-) and those tested here (+) differ"
  while IFS='|' read -r module includes statement; do
    for include in $includes; do echo "#include <$include>"; done >"$dir/$module.cc"
    echo "int main() { $statement }" >>"$dir/$module.cc"
    # The version of the library file itself.
    [[ $(cd "$prefix/$LIBDIR" && echo "lib$module".so.*.*.*) == \
      "lib$module.so.$(pkg-config --modversion "$module")" ]] ||
      fail "$module: version $(pkg-config --modversion "$module")"
    flags=$(pkg-config --cflags --libs "$module")
    [[ $flags != *..* && $(grep -o -- '-lprotobuf\b' <<<"$flags" | wc -l) -le 1 ]] ||
      fail "$module: $flags"
    # shellcheck disable=SC2086 # flags are words
    c++ "$dir/$module.cc" $flags -o "$dir/$module" && "$dir/$module" ||
      fail "$module: a program built with its flags alone fails"
  done <<<"$MODULE_PROGRAMS"
)
# Module|headers|main's body; protobuf is used directly, as callers do.
readonly MODULE_PROGRAMS='ostrel_core_types|ostrel/ruk/core_types.pb.h|ostrel::ruk::UuidMsg m; m.set_left(1); return m.SerializeAsString().empty();
ostrel_agg_svc_common_types|ostrel/ruk/agg_service/agg_svc_common_types.pb.h|ostrel::ruk::agg_service::ErrorMsg m; return !m.SerializeAsString().empty();
ostrel_agg_svc_l3_msg|ostrel/ruk/agg_service/l3/agg_svc_l3_msg.pb.h|ostrel::ruk::agg_service::l3::RouteTableMsg m; m.add_route(); return m.SerializeAsString().empty();
ostrel_report_diff|ostrel/report_diff.h google/protobuf/descriptor.pb.h|return ostrel::report_diff::Keys(*google::protobuf::FileDescriptorProto::descriptor()).Describe().empty();
ostrel_report_stream|report_stream.h google/protobuf/descriptor.pb.h|ostrel::report_stream::IsStreamable(*google::protobuf::FileDescriptorProto::descriptor()->field(0)); return 0;'

python3_with() {
  PYTHONPATH=$1/$PYTHONDIR "$PYTHON3" -s -B "${@:2}"
}

# The modules are namespace packages: a module of the user's own, in another
# folder on the path, joins ours (PYTHONPATH: our folder, if any).
expect_namespaces() {
  local own=$WORK_DIR/own/ostrel/ruk/agg_service/l3
  mkdir -p "$own"
  echo 'from ostrel.ruk.agg_service.l3 import agg_svc_l3_msg_pb2 as l3' >"$own/own_pb2_grpc.py"
  PYTHONPATH=$1${1:+:}$WORK_DIR/own "$2" -s -B -c \
    'from ostrel.ruk.agg_service.l3 import own_pb2_grpc; own_pb2_grpc.l3.RouteTableMsg()' ||
    fail "a module of ours and one of the user's in the same package"
}

# The gRPC example: stubs generated from the installed .proto files, each
# server (C++, Python) asked by each client over loopback for each of two
# route tables, and for a router it has no table for. PYTHON_PATH: where the
# message modules are, if not on the default path.
expect_grpc() (
  local prefix=$1 dir=$2 python_path=$3 options=() servers=() server client
  local examples=$SOURCE_DIR/../../examples
  [[ $prefix == /usr ]] || options=(-DCMAKE_PREFIX_PATH="$prefix")
  rm -rf "$dir" && mkdir -p "$dir"
  trap 'kill "${servers[@]}" 2>/dev/null' EXIT
  cmake -S "$examples/grpc" -B "$dir/build" -G "$GENERATOR" "${options[@]}"
  cmake --build "$dir/build"
  local -A command=(
    [cpp]="$dir/build/route_service"
    [python]="env PYTHONPATH=$dir/build/python${python_path:+:$python_path} ${PYTHON3:-/usr/bin/python3} -s -B
      $examples/grpc/route_service.py")
  local -A tables=([fe4f5263-11d5-4724-95ba-a978983b6369]=a [00000000-0000-0001-ffff-ffffffffffff]=b)
  sed 's/^lrouter_id: .*/lrouter_id: "00000000-0000-0001-FFFF-ffffffffffff"/' \
    "$examples/route_table.txtpb" >"$dir/b.txtpb"
  cp "$examples/route_table.txtpb" "$dir/a.txtpb"
  for table in a b; do
    protoc -I "$prefix/$INCLUDEDIR" --encode=ostrel.ruk.agg_service.l3.RouteTableMsg \
      ostrel/ruk/agg_service/l3/agg_svc_l3_msg.proto <"$dir/$table.txtpb" >"$dir/$table.bin"
  done
  cmp -s "$dir/a.bin" "$dir/b.bin" && fail "the two tables are the same bytes"
  for server in cpp python; do
    # shellcheck disable=SC2086 # the command is words
    ${command[$server]} serve "$dir/a.bin" "$dir/b.bin" >"$dir/$server.port" &
    servers+=($!)
    for ((i = 0; i < 600; i++)); do
      [[ -s $dir/$server.port ]] && break
      sleep 0.1
    done
    port=$(head -n 1 "$dir/$server.port")
    [[ $port =~ ^[0-9]+$ ]] || fail "the $server server printed no port: $port"
    for client in cpp python; do
      for router in "${!tables[@]}"; do
        # shellcheck disable=SC2086
        ${command[$client]} get "$port" "$router" >"$dir/got" ||
          fail "$client client, $server server, $router: exit status $?"
        cmp "$dir/got" "$dir/${tables[$router]}.bin" ||
          fail "$client client, $server server: another table for $router"
      done
      # shellcheck disable=SC2086
      status=0 && ${command[$client]} get "$port" 11111111-2222-3333-4444-555555555555 \
        2>"$dir/error" || status=$?
      [[ $status == 1 && $(<"$dir/error") == *'(code 5)' ]] ||
        fail "$client client, $server server, unknown router: status $status, $(<"$dir/error")"
    done
  done
)

# The tool from PATH: its version, its manual page, its completions as
# bash-completion, fish and zsh load them on the first Tab, and the example
# reports that the manual page points to.
expect_tool() {
  [[ $(command -v agg-l3) == /usr/bin/agg-l3 ]] || fail "agg-l3 on PATH: $(command -v agg-l3)"
  local version warnings completion
  version=$(agg-l3 --version)
  [[ $version == "agg-l3 $(dpkg-query -W -f '${Version}' agg-l3)"$'\n'*': 58 message types, description sha256 '* ]] ||
    fail "agg-l3 --version: $version"
  warnings=$(MANWIDTH=80 man --warnings agg-l3 2>&1 >"$WORK_DIR/agg-l3.man")
  [[ -z $warnings ]] || fail "man --warnings agg-l3: $warnings"
  local line='agg-l3 decode RouteTableMsg --each '
  completion=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader agg-l3
    function=$(complete -p agg-l3 | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    COMP_LINE=$1 COMP_POINT=${#1}
    "$function"
    echo "${COMPREPLY[*]}"' bash "$line")
  [[ $completion == route ]] || fail "bash completion of [$line]: $completion"
  # zsh and fish find theirs among those of packaged commands.
  completion=$(fish -c 'complete -C $argv[1]' "$line")
  [[ $completion == route ]] || fail "fish completion of [$line]: $completion"
  completion=$(zsh -f -c 'autoload -U compinit && compinit -u -D && print -r -- $_comps[agg-l3]')
  [[ $completion == _agg-l3 ]] || fail "zsh completes agg-l3 with [$completion]"
  agg-l3 encode RouteTableMsg /usr/share/doc/agg-l3/examples/route_table.txtpb \
    -o "$WORK_DIR/route_table.bin"
  agg-l3 check RouteTableMsg "$WORK_DIR/route_table.bin"
}

case $1 in
  stage)
    rm -rf "$STAGE"
    cmake --install "$BUILD_DIR" --prefix "$STAGE"
    ;;
  layout)
    same_files "$STAGE" "$(expected_files)" \
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
    protoc -I "$STAGE/$INCLUDEDIR" -I "$WORK_DIR" --descriptor_set_out="$WORK_DIR/archive.pb" \
      "$WORK_DIR/archive.proto"
    ;;
  cmake)
    build_with_cmake "$STAGE" "$WORK_DIR/cmake-consumer"
    ;;
  pkg-config)
    build_with_pkg_config "$STAGE" "$WORK_DIR/pkg-config-consumer"
    build_each_module "$STAGE" "$WORK_DIR/each-module"
    ;;
  grpc)
    expect_grpc "$STAGE" "$WORK_DIR/grpc" "$STAGE/$PYTHONDIR"
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
    expect_namespaces "$STAGE/$PYTHONDIR" "$PYTHON3"
    ;;
  system-cmake)
    build_with_cmake /usr "$WORK_DIR/cmake-consumer"
    ;;
  system-pkg-config)
    build_with_pkg_config /usr "$WORK_DIR/pkg-config-consumer"
    build_each_module /usr "$WORK_DIR/each-module"
    ;;
  system-python)
    # Debian's python3, as a user runs it: byte code where the packages put
    # it; the same bytes as the C++ consumer's.
    # shellcheck disable=SC2046 # flags are words
    c++ "$CONSUMER/route_report.cc" $(pkg-config --cflags --libs ostrel_agg_svc_l3_msg) \
      -o "$WORK_DIR/route_report"
    from_cpp=$("$WORK_DIR/route_report")
    from_python=$(/usr/bin/python3 "$CONSUMER/route_report.py")
    [[ $from_python == "$from_cpp" ]] || fail "Python: $from_python, C++: $from_cpp"
    expect_namespaces "" /usr/bin/python3
    ;;
  system-tool)
    expect_tool
    ;;
  system-grpc)
    expect_grpc /usr "$WORK_DIR/grpc" ""
    ;;
  *)
    fail "unknown mode $1"
    ;;
esac
