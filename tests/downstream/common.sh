# Sourced by tests/downstream/run and tests/release/run, once test_name is
# set: how a case fails, skips, runs a logged step and reads the
# documentation. CMAKE is the CMake of the build under test.

cmake() { "${CMAKE:-cmake}" "$@"; }
fail() {
    echo "$test_name: $*" >&2
    exit 1
}
skip() {
    echo "skipped: $*"
    exit 77
}
# missing WHAT HOW: a tool that CI installs (scripts/install-deps --tests) is
# missing: the case fails with CI=true and is skipped elsewhere.
missing() {
    [[ ${CI:-} != true ]] || fail "$1 is missing"
    skip "$1 is not installed${2:+ ($2)}"
}
need() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || missing "$tool"
    done
}
# logged LOG COMMAND...: COMMAND's output goes to LOG, shown if it fails.
logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log"; fail "failed: $*"; }
}
# documentation: README.md and docs/*.md, one a line.
documentation() {
    shopt -s nullglob
    printf '%s\n' "$HEXFOLD_SOURCE_DIR/README.md" "$HEXFOLD_SOURCE_DIR"/docs/*.md
    shopt -u nullglob
}
# documented PATTERN: the one text that README.md and docs/*.md give matching
# the extended regular expression PATTERN, wherever it stands there.
documented() {
    local files found
    mapfile -t files < <(documentation)
    found=$(grep -hoE -- "$1" "${files[@]}" | sed 's/[[:space:]]*$//' | sort -u) || true
    [[ -n $found ]] || fail "README.md and docs/*.md give nothing like: $1"
    [[ $found != *$'\n'* ]] || fail "README.md and docs/*.md give different lines:"$'\n'"$found"
    printf '%s\n' "$found"
}
# documented_lines FIRST LAST: the lines that README.md and docs/*.md give,
# in one place alone, from one matching the extended regular expression
# FIRST to the next one matching LAST, each without its indent.
documented_lines() {
    local files found
    mapfile -t files < <(documentation)
    # shellcheck disable=SC2016 # an awk program
    found=$(FIRST=$1 LAST=$2 awk '
        !run && $0 ~ ENVIRON["FIRST"] { run = 1; runs++ }
        run { sub(/^[[:space:]]+/, ""); sub(/[[:space:]]+$/, ""); print }
        run && $0 ~ ENVIRON["LAST"] { run = 0 }
        END { exit runs != 1 || run }' "${files[@]}") ||
        fail "README.md and docs/*.md do not give once the lines from '$1' to '$2'"
    printf '%s\n' "$found"
}
