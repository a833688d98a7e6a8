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
# documented PATTERN: the one text that README.md and docs/*.md give matching
# the extended regular expression PATTERN, wherever it stands there.
documented() {
    local files=("$HEXFOLD_SOURCE_DIR/README.md") found
    shopt -s nullglob
    files+=("$HEXFOLD_SOURCE_DIR"/docs/*.md)
    shopt -u nullglob
    found=$(grep -hoE -- "$1" "${files[@]}" | sed 's/[[:space:]]*$//' | sort -u) || true
    [[ -n $found ]] || fail "README.md and docs/*.md give nothing like: $1"
    [[ $found != *$'\n'* ]] || fail "README.md and docs/*.md give different lines:"$'\n'"$found"
    printf '%s\n' "$found"
}
