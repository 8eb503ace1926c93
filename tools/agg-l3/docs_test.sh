#!/usr/bin/env bash
# The manual page and the bash completion, held to the built tool.
# Usage: docs_test.sh man|completion|examples AGG_L3 MAN_PAGE COMPLETION EXAMPLES_DIR
set -euo pipefail
readonly TOOL=$2 MAN_PAGE=$3 COMPLETION=$4 EXAMPLES=$5
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The command lines of the page's EXAMPLES, as a shell reads them.
man_examples() {
  sed -n '/^\.SH EXAMPLES/,/^\.SH/{/^\.nf/,/^\.fi/p}' "$MAN_PAGE" |
    grep -v '^\.' | sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g"
}

# What the completion offers for the command line LINE (a trailing space
# starts a new word), one word a line.
complete_line() {
  local -a COMP_WORDS COMPREPLY
  local COMP_CWORD
  read -ra COMP_WORDS <<<"$1"
  [[ $1 != *' ' ]] || COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_WORDS[0]=$TOOL
  _agg_l3
  printf '%s\n' "${COMPREPLY[@]}"
}

case $1 in
  man)
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$MAN_PAGE" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man --warnings: $warnings"
    # Every option of every command is documented.
    for command in '' types schema decode encode check diff; do
      # shellcheck disable=SC2086 # no command is no word
      for option in $("$TOOL" $command --help | grep -o -E '(^|[ ,])--?[a-z]+' |
        tr -d ' ,'); do
        grep -q -F -- "$(sed 's/-/\\-/g' <<<"$option")" "$MAN_PAGE" ||
          fail "agg-l3 $command $option is not in the manual page"
      done
    done
    ;;
  examples)
    diff -u <(grep -v '^#' "$EXAMPLES/agg-l3.sh") <(man_examples) >&2 ||
      fail "EXAMPLES of the manual page differ from examples/agg-l3.sh"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cp "$EXAMPLES/route_table.txtpb" "$work"
    (cd "$work" && PATH=$(dirname "$TOOL"):$PATH bash -euo pipefail \
      "$EXAMPLES/agg-l3.sh" >/dev/null) || fail "examples/agg-l3.sh failed"
    kept=$("$TOOL" decode RouteTableMsg "$work/kept.bin")
    [[ $(grep -c '^route {' <<<"$kept") == 21 && $kept != *'route_type: "b"'* ]] ||
      fail "kept.bin holds other routes than the 21 not learned over BGP: $kept"
    ;;
  completion)
    # shellcheck source=agg-l3.bash-completion
    source "$COMPLETION"
    while IFS='|' read -r line expected; do
      found=$(complete_line "$line" | tr '\n' ' ')
      [[ ${found% } == "$expected" ]] || fail "[$line]: [${found% }], not [$expected]"
    done <<'EOF_CASES'
agg-l3 |types schema decode encode check diff --help --version
agg-l3 diff --|--json --accept-loss --delimited --hex --base64 --decompress --key --keys --ignore --summary --color --quiet --help
agg-l3 diff OspfRo|OspfRouteEntryMsg OspfRouteMsg OspfRouterLinkStateMsg
agg-l3 de|decode
agg-l3 --|--help --version
agg-l3 types --|--enums --help
agg-l3 encode --|--json --ignore-unknown --each --delimited --decompress --gzip --output --help
agg-l3 decode --a|--accept-loss
agg-l3 decode RouteTa|RouteTableMsg
agg-l3 check --help BgpNeighborS|BgpNeighborStatusMsg BgpNeighborStatusPerNodeMsg BgpNeighborStatusPerLrMsg
agg-l3 decode RouteTableMsg --each |route
agg-l3 decode --json ostrel.ruk.agg_service.l3.RouteTableMsg --each r|route
agg-l3 encode -o out.bin BgpNeighborMsg --each |bgp_neighbor_msg
agg-l3 decode --each |
agg-l3 schema Uu|UuidMsg
agg-l3 schema UuidMsg |
agg-l3 schema --j|--json-schema
agg-l3 decode --raw RouteTa|
agg-l3 check --b|--base64
EOF_CASES
    ;;
  *)
    fail "unknown mode $1"
    ;;
esac
((failures == 0))
