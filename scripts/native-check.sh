#!/usr/bin/env bash
# What CI runs natively, with clang's sanitizers: builds fuzz/ in its three flavours, replays every
# fuzz target's committed corpus and regressions, runs the core's unit tests under ASan and UBSan,
# fuzzes each target for a short fixed time (two at a time, about three minutes in all), runs the
# thread checks under ThreadSanitizer and the memory checks without sanitizers.
# Findings go to build/native/findings/<target>/, logs to build/native/check/. Ends with
# "N passed, M failed"; exits non-zero on any failure.
# --quick leaves out the timed fuzzing; the corpora and regressions are still replayed, and the unit
# tests run.
# usage: scripts/native-check.sh [--quick]
set -uo pipefail
quick=0
case "${1:-}" in
    --quick) quick=1; shift ;;
esac
[ $# -eq 0 ] || { echo "usage: $0 [--quick]" >&2; exit 2; }
root=$(dirname "$(dirname "$(readlink -f "$0")")")
cd "$root" || exit 1
logs=$root/build/native/check
findings=$root/build/native/findings
mkdir -p "$logs" "$findings"
export UBSAN_OPTIONS=print_stacktrace=1
targets=(fuzz_jpeg_decode fuzz_stream fuzz_segments fuzz_exif fuzz_exif_carry fuzz_png fuzz_webp)
# The decoding targets are slower and reach deeper, so they get longer.
declare -A seconds=([fuzz_jpeg_decode]=90 [fuzz_stream]=90 [fuzz_segments]=45 [fuzz_exif]=30 [fuzz_exif_carry]=30 [fuzz_png]=30 [fuzz_webp]=45)
limits=(-rss_limit_mb=2048 -timeout=30)
passed=0
failed=0
summary=()

# Records one step from its exit status and time; a failed step's log ends are shown.
record() {
    local name=$1 status=$2 took=$3 log=$4
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        summary+=("ok     $name (${took}s)")
    else
        failed=$((failed + 1))
        summary+=("FAILED $name (${took}s, exit $status; log $log)")
        echo "--- $name failed; the end of $log:"
        tail -n 40 "$log"
    fi
}

# Runs a command as one step, its output into the step's log.
step() {
    local name=$1 log=$logs/$1.log start=$SECONDS status=0
    shift
    echo "--- $name"
    "$@" >"$log" 2>&1 || status=$?
    record "$name" "$status" $((SECONDS - start)) "$log"
}

# The committed inputs of a target: its corpus and its regressions, which must run clean.
inputs_of() {
    find "fuzz/corpus/$1" "fuzz/regressions/$1" -maxdepth 1 -type f ! -name '.*' 2>/dev/null | sort
}

replay() {
    local target=$1 files
    mapfile -t files < <(inputs_of "$target")
    [ ${#files[@]} -gt 0 ] || { echo "no inputs for $target"; return 1; }
    "$fuzz_build/$target" "${limits[@]}" "${files[@]}"
}

# Fuzzes from the committed inputs in a folder of its own, never the repository's.
fuzz_for() {
    local target=$1 work
    work=$(mktemp -d "$root/build/native/check/$target.XXXXXX")
    mkdir -p "$findings/$target"
    inputs_of "$target" | xargs -r cp -t "$work"
    "$fuzz_build/$target" "${limits[@]}" -max_total_time="${seconds[$target]}" -print_final_stats=1 \
        -artifact_prefix="$findings/$target/" "$work"
    local status=$?
    rm -rf "$work"
    return $status
}

fuzz_build=$root/build/native/fuzz
tsan_build=$root/build/native/tsan
plain_build=$root/build/native/plain
step build-fuzz bash fuzz/build.sh fuzz
step build-tsan bash fuzz/build.sh tsan
step build-plain bash fuzz/build.sh plain
for target in "${targets[@]}"; do
    step "replay-$target" replay "$target"
done
step core_unit_tests "$fuzz_build/core_unit_tests"

# Two targets at a time, one for each core.
declare -A running=() started=()
finished_one() {
    local pid
    wait -n -p pid
    local status=$?
    local target=${running[$pid]}
    unset "running[$pid]"
    record "fuzz-$target" "$status" $((SECONDS - started[$target])) "$logs/fuzz-$target.log"
}
[ "$quick" -eq 1 ] || echo "--- fuzzing ${targets[*]}"
for target in "${targets[@]}"; do
    [ "$quick" -eq 0 ] || break
    [ ${#running[@]} -lt 2 ] || finished_one
    started[$target]=$SECONDS
    fuzz_for "$target" >"$logs/fuzz-$target.log" 2>&1 &
    running[$!]=$target
done
while [ ${#running[@]} -gt 0 ]; do finished_one; done

step thread-checks env TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$tsan_build/thread_checks"
step memory-checks "$plain_build/memory_checks"

echo
echo "Summary:"
printf '  %s\n' "${summary[@]}"
for target in "${targets[@]}"; do
    log=$logs/fuzz-$target.log
    [ "$quick" -eq 0 ] && [ -f "$log" ] || continue
    stats=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -n 1 | sed -E 's/^#([0-9]+)\s+\w+\s+cov: ([0-9]+) ft: ([0-9]+).*/\1 runs, cov \2, ft \3/')
    echo "  $target: ${stats:-no stats}"
done
found=$(find "$findings" -type f -newer "$logs/build-fuzz.log" 2>/dev/null)
[ -z "$found" ] || { echo "New findings:"; echo "$found" | sed 's/^/  /'; }
echo "Took ${SECONDS}s."
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
