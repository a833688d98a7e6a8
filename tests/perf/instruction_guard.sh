#!/usr/bin/env bash
# Counts the instructions hexfold executes per source byte under callgrind,
# which, unlike time, do not change with the machine's load: on 4 MiB of
# 43-character lines with the default unit and with HEXFOLD_VECTOR_UNIT=none,
# and on the same lines each holding a NUL, which no unit takes, for the
# general path. A unit that is lost or broken shows as counts near the general
# way's and over the budget.
#
#     instruction_guard.sh HEXFOLD [SKIP_REASON]
#
# Exits 77 (skipped) with the reason where the counts would mean nothing.
set -euo pipefail

hexfold=$1
check=${3:-$(dirname "$hexfold")/hexfold-check}
skip() {
    echo "skipped: $*"
    exit 77
}
[[ $# -lt 2 || -z $2 ]] || skip "$2"
# Valgrind runs x86-64's AVX2 unit (it has no AVX-512); elsewhere the unit
# it would count is not the one users run.
[[ $(uname -m) == x86_64 ]] || skip "$(uname -m) is not x86-64, where valgrind runs the vector unit"
grep -qw avx2 /proc/cpuinfo || skip "this processor has no AVX2, the unit that the budget is for"
if ! command -v valgrind >/dev/null; then
    # CI installs valgrind: a guard that skips there would pass without looking.
    [[ ${CI:-} != true ]] || {
        echo "valgrind is missing" >&2
        exit 1
    }
    skip "valgrind is not installed"
fi

# Instructions per source byte, in thousandths. Measured with g++ 12 and
# clang 14 (default unit 2.22 and 2.49, none 4.61 and 5.12, the general path
# 8.73 and 8.95); each budget is 25% above the higher figure.
readonly default_budget=3110
readonly none_budget=6400
# hexfold-check, default unit: clean lines 2.13 and 2.06, CR LF lines (a
# finding on each) 2.58 and 2.53.
readonly check_budget=2660
readonly check_crlf_budget=3220

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 64 KiB of lines from a fixed pseudo-random sequence (MINSTD, exact in awk's
# doubles), repeated: the counts depend on the lines' shape, not their digits.
awk 'BEGIN {
    x = 20240601
    for (line = 0; line < 1489; ++line) {
        s = ":"
        for (k = 0; k < 42; ++k) {
            x = (x * 48271) % 2147483647
            s = s substr("0123456789ABCDEF", int(x / 65536) % 16 + 1, 1)
        }
        print s
    }
}' >"$work/block.hex"
for _ in $(seq 64); do cat "$work/block.hex"; done >"$work/lines.hex"
sed 's/$/\x00/' "$work/lines.hex" >"$work/nul.hex"
sed 's/$/\r/' "$work/lines.hex" >"$work/crlf.hex"

# Prints thousandths of an instruction per byte of source; an empty unit
# leaves the choice to hexfold. Without an output, hexfold-check's reading.
count() {
    local unit=$1 source=$2 out=${3:-}
    local choice=(-u HEXFOLD_VECTOR_UNIT) run=("$check" "$source")
    [[ -z $unit ]] || choice=("HEXFOLD_VECTOR_UNIT=$unit")
    [[ -z $out ]] || run=("$hexfold" "$source" "$out")
    env "${choice[@]}" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
        "${run[@]}" >/dev/null 2>&1
    local instructions
    instructions=$(sed -n 's/^summary: *\([0-9][0-9]*\).*/\1/p' "$work/callgrind.out")
    [[ -n $instructions ]] || {
        echo "no instruction count from callgrind" >&2
        exit 1
    }
    echo $((instructions * 1000 / $(stat -c %s "$source")))
}

default=$(count "" "$work/lines.hex" "$work/default.bin")
none=$(count none "$work/lines.hex" "$work/none.bin")
general=$(count "" "$work/nul.hex" "$work/general.bin")
checked=$(count "" "$work/lines.hex")
checked_crlf=$(count "" "$work/crlf.hex")
cmp "$work/default.bin" "$work/none.bin"
printf 'instructions per source byte: default unit %d.%03d (budget %d.%03d), none %d.%03d (budget %d.%03d), general path %d.%03d\n' \
    $((default / 1000)) $((default % 1000)) $((default_budget / 1000)) $((default_budget % 1000)) \
    $((none / 1000)) $((none % 1000)) $((none_budget / 1000)) $((none_budget % 1000)) \
    $((general / 1000)) $((general % 1000))
printf 'hexfold-check: clean lines %d.%03d (budget %d.%03d), CR LF lines %d.%03d (budget %d.%03d)\n' \
    $((checked / 1000)) $((checked % 1000)) $((check_budget / 1000)) $((check_budget % 1000)) \
    $((checked_crlf / 1000)) $((checked_crlf % 1000)) $((check_crlf_budget / 1000)) $((check_crlf_budget % 1000))

status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}
((default <= default_budget)) || fail "the default unit is over its budget"
((none <= none_budget)) || fail "the none unit is over its budget"
# Half the general path's count or less: the unit takes the pieces.
((default * 2 <= general)) || fail "the default unit does not take the lines from the general path"
((none * 5 <= general * 4)) || fail "the none unit does not take the lines from the general path"
((checked <= check_budget)) || fail "hexfold-check is over its budget on clean lines"
((checked_crlf <= check_crlf_budget)) || fail "hexfold-check is over its budget on CR LF lines"
# Half the general path's count or less: hexfold-check reads clean lines in bulk too.
((checked * 2 <= general)) || fail "hexfold-check does not read clean lines in bulk"
exit $status
