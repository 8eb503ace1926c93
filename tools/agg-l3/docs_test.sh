#!/usr/bin/env bash
# The manual page and the bash, zsh and fish completions, held to the built
# tool.
# Usage: docs_test.sh man|completion|examples AGG_L3 MAN_PAGE COMPLETION EXAMPLES_DIR
# (COMPLETION: the bash one; the zsh and fish ones are beside it.)
set -euo pipefail
readonly TOOL=$2 MAN_PAGE=$3 COMPLETION=$4 EXAMPLES=$5
COMPLETIONS=$(realpath "$(dirname "$0")")/testdata/completions.txt
readonly COMPLETIONS
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

# What the completion for SHELL makes of the word at the end of the command
# line LINE (a trailing space starts a new word), one candidate a line,
# sorted; run in a folder that holds one file, report.bin.
complete_line() {
  local shell=$1 line=$2
  case $shell in
    bash)
      bash -c '
        source "$1"
        COMP_LINE=$2 COMP_POINT=${#2}
        _agg_l3
        # What the word becomes: bash keeps what comes before its last =.
        cur=${2##*[[:space:]]}
        [[ $cur == *=* ]] && kept=${cur%=*}= || kept=
        for reply in "${COMPREPLY[@]}"; do echo "$kept$reply"; done' \
        bash "$COMPLETION" "$TOOL ${line#agg-l3 }"
      ;;
    zsh)
      zsh -f -c '
        _describe() { print -rl -- "${(@)${(@P)4}%%:*}" }
        _files() { print -rl -- ${words[CURRENT]}*(N) }
        words=("${(@z)2}")
        [[ $2 != *" " ]] || words+=("")
        CURRENT=${#words}
        source "$1"' zsh "${COMPLETION%.*}.zsh-completion" "$TOOL ${line#agg-l3 }"
      ;;
    fish)
      PATH=$(dirname "$TOOL"):$PATH fish --no-config -c \
        'source $argv[1]; complete -C $argv[2]' "${COMPLETION%.*}.fish" "$line" | cut -f 1
      ;;
  esac | sort
}

case $1 in
  man)
    # The page itself goes to a file of ours: only the warnings are read.
    page=$(mktemp)
    trap 'rm -f "$page"' EXIT
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$MAN_PAGE" 2>&1 >"$page")
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
      "$EXAMPLES/agg-l3.sh" >"$work/examples.out") || fail "examples/agg-l3.sh failed"
    kept=$("$TOOL" decode RouteTableMsg "$work/kept.bin")
    [[ $(grep -c '^route {' <<<"$kept") == 21 && $kept != *'route_type: "b"'* ]] ||
      fail "kept.bin holds other routes than the 21 not learned over BGP: $kept"
    ;;
  completion)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cd "$work" && touch report.bin
    [[ -s $COMPLETIONS ]] || fail "no cases in $COMPLETIONS"
    while IFS='|' read -r line expected; do
      for shell in bash zsh fish; do
        found=$(complete_line "$shell" "$line" | tr '\n' ' ')
        [[ ${found% } == "$(tr ' ' '\n' <<<"$expected" | sort | xargs)" ]] ||
          fail "$shell [$line]: [${found% }], not [$expected]"
      done
    done < <(grep -v '^#' "$COMPLETIONS")
    ;;
  *)
    fail "unknown mode $1"
    ;;
esac
((failures == 0))
