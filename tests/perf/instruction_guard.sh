#!/usr/bin/env bash
# Counts the instructions hexfold executes per source byte, which, unlike
# time, do not change with the machine's load: on 43-character lines (a
# colon and 42 digits) with each vector unit forced by HEXFOLD_VECTOR_UNIT,
# and on the same lines each holding a NUL, which no unit takes, for the
# general path. Each figure is the difference between the counts on two
# sources of different sizes over the difference in their sizes, so that
# start-up (which differs from one link to another) is not in it. A unit
# that is lost or broken counts as the unit below it or the general path
# does, over its budget.
#
#     instruction_guard.sh HEXFOLD HEXFOLD_LINES [SKIP_REASON [HEXFOLD_CHECK]]
#     instruction_guard.sh --steps STEP_COUNT HEXFOLD HEXFOLD_LINES [SKIP_REASON]
#
# The first form counts none, sse2 and avx2 and the general path under
# callgrind, and hexfold-check (default: beside HEXFOLD) reading the lines
# and the same lines ending in CR LF, a finding on each; the second counts
# avx512, which valgrind does not run, and avx2 beside it, natively with
# tests/perf/step_count.c. The lines come from
# HEXFOLD_LINES (tests/lines), shapes digits42 and digits42-nul. Exits 77
# (skipped) with the reason where the counts would mean nothing.
set -euo pipefail

steps=
if [[ ${1:-} == --steps ]]; then
    steps=$2
    shift 2
fi
hexfold=$1
hexfold_lines=$2
check=${4:-$(dirname "$hexfold")/hexfold-check}
skip() {
    echo "skipped: $*"
    exit 77
}
[[ $# -lt 3 || -z $3 ]] || skip "$3"
[[ $(uname -m) == x86_64 ]] || skip "$(uname -m) is not x86-64, whose units the budgets are for"
flags=" $(grep -m1 '^flags' /proc/cpuinfo || true) "
if [[ -n $steps ]]; then
    [[ $flags == *" avx512f "* && $flags == *" avx512bw "* ]] ||
        skip "this processor has no AVX-512BW, the unit that the budget is for"
    # A container may forbid ptrace.
    probe=$("$steps" true 2>&1) || skip "the stepping counter cannot run here: ${probe##*step_count: }"
else
    # Valgrind runs x86-64's AVX2 unit (it has no AVX-512).
    [[ $flags == *" avx2 "* ]] || skip "this processor has no AVX2, a unit that the budgets are for"
    if ! command -v valgrind >/dev/null; then
        # CI installs valgrind: a guard that skips there would pass without looking.
        [[ ${CI:-} != true ]] || {
            echo "valgrind is missing" >&2
            exit 1
        }
        skip "valgrind is not installed"
    fi
fi

# Instructions per source byte, in thousandths, 10-25% above what g++ 12 and
# clang 14 builds measure (the higher of the two): none 3.23, sse2 2.12,
# avx2 1.05, avx512 0.80; the general path measures about 7.
readonly none_budget=3700 sse2_budget=2450 avx2_budget=1200 avx512_budget=900
# hexfold-check, default unit: clean lines 1.71, CR LF lines (a finding on
# each) 2.16.
readonly check_budget=1950 check_crlf_budget=2450

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A small source and a large one that begins with it, of each shape: 1 and
# 4 MiB for callgrind, 16 and 64 KiB for stepping, which is slow.
if [[ -n $steps ]]; then
    sizes=(small 16384 large 65536)
else
    sizes=(small 1048576 large 4194304)
fi
for shape in "" -nul; do
    for at in 0 2; do
        size=${sizes[at]}
        "$hexfold_lines" --seed=7 --size="${sizes[at + 1]}" --shape="digits42$shape" >"$work/$size$shape.hex"
        # What every counted run must write, from the word unit run natively.
        HEXFOLD_VECTOR_UNIT=none "$hexfold" "$work/$size$shape.hex" "$work/$size$shape.bin"
    done
done
for size in small large; do
    sed 's/$/\r/' "$work/$size.hex" >"$work/$size-crlf.hex"
done

# Prints the instructions of one run of hexfold on source with unit, or of
# hexfold-check reading it when unit is "check".
run_count() {
    local unit=$1 source=$2 out=$3
    local counted choice=("HEXFOLD_VECTOR_UNIT=$unit") run=("$hexfold" "$source" "$out")
    if [[ $unit == check ]]; then
        choice=(-u HEXFOLD_VECTOR_UNIT)
        run=("$check" "$source")
    fi
    # The environment is set outside the counter, which counts one program.
    if [[ -n $steps ]]; then
        counted=$(env "${choice[@]}" "$steps" "${run[@]}" 2>&1 >/dev/null |
            sed -n 's/^instructions: \([0-9][0-9]*\)$/\1/p')
    else
        env "${choice[@]}" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "${run[@]}" \
            >/dev/null 2>&1
        counted=$(sed -n 's/^summary: *\([0-9][0-9]*\).*/\1/p' "$work/callgrind.out")
    fi
    [[ -n $counted ]] || {
        echo "no instruction count for $unit on $source" >&2
        exit 1
    }
    echo "$counted"
}

# Prints thousandths of an instruction per source byte for unit on the
# lines named by shape, once both of hexfold's runs have written the right bytes.
count() {
    local unit=$1 shape=$2
    local size counts=()
    for size in small large; do
        counts+=("$(run_count "$unit" "$work/$size$shape.hex" "$work/counted.bin")")
        [[ $unit == check ]] || cmp "$work/$size$shape.bin" "$work/counted.bin" >&2
    done
    local bytes=$(($(stat -c %s "$work/large$shape.hex") - $(stat -c %s "$work/small$shape.hex")))
    echo $(((counts[1] - counts[0]) * 1000 / bytes))
}

show() {
    printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000))
}

status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}
if [[ -n $steps ]]; then
    avx512=$(count avx512 "")
    avx2=$(count avx2 "")
    echo "instructions per source byte, counted by stepping: avx512 $(show "$avx512")" \
        "(budget $(show $avx512_budget)), avx2 $(show "$avx2")"
    ((avx512 <= avx512_budget)) || fail "the avx512 unit is over its budget"
    # A twentieth fewer than avx2 or more: AVX-512 takes the lines, not AVX2.
    ((avx512 * 20 <= avx2 * 19)) || fail "the avx512 unit counts as many as avx2"
    exit $status
fi

none=$(count none "")
sse2=$(count sse2 "")
avx2=$(count avx2 "")
general=$(count avx2 -nul)
checked=$(count check "")
checked_crlf=$(count check -crlf)
echo "instructions per source byte, counted by callgrind: none $(show "$none") (budget $(show $none_budget))," \
    "sse2 $(show "$sse2") (budget $(show $sse2_budget)), avx2 $(show "$avx2") (budget $(show $avx2_budget))," \
    "general path $(show "$general")"
echo "hexfold-check: clean lines $(show "$checked") (budget $(show $check_budget))," \
    "CR LF lines $(show "$checked_crlf") (budget $(show $check_crlf_budget))"
((none <= none_budget)) || fail "the none unit is over its budget"
((sse2 <= sse2_budget)) || fail "the sse2 unit is over its budget"
((avx2 <= avx2_budget)) || fail "the avx2 unit is over its budget"
# Half the general path's count or less: the units take the pieces.
((none * 2 <= general)) || fail "the none unit does not take the lines from the general path"
((checked <= check_budget)) || fail "hexfold-check is over its budget on clean lines"
((checked_crlf <= check_crlf_budget)) || fail "hexfold-check is over its budget on CR LF lines"
# And hexfold-check reads clean lines in bulk too.
((checked * 2 <= general)) || fail "hexfold-check does not read clean lines in bulk"
exit $status
