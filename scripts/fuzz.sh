#!/usr/bin/env bash
# Longer fuzzing campaigns: every target named (all by default) at once, for SECONDS each (1800 by
# default). Each grows its corpus in build/native/campaign/<target>/, seeded from the committed
# corpus and regressions, logs to build/native/campaign/<target>.log and keeps going past a crash,
# whose input lands in build/native/findings/<target>/. Ends with a report: executions, coverage
# and findings per target; `--report` prints it from the logs at any time, also while one runs.
# usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#        scripts/fuzz.sh --report [TARGET...]
set -euo pipefail
root=$(dirname "$(dirname "$(readlink -f "$0")")")
cd "$root"
campaign=$root/build/native/campaign
findings=$root/build/native/findings
all=(fuzz_jpeg_decode fuzz_stream fuzz_segments fuzz_exif fuzz_exif_carry fuzz_png fuzz_webp)

report_only=
seconds=1800
if [ "${1:-}" = --report ]; then
    report_only=1
    shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for target in "${targets[@]}"; do
    [ -f "fuzz/$target.cpp" ] || { echo "no fuzz target $target (fuzz/$target.cpp)" >&2; exit 2; }
done

report() {
    local target log last runs cov ft corpus crashes found
    echo "Campaign report ($campaign):"
    for target in "${targets[@]}"; do
        log=$campaign/$target.log
        if [ ! -f "$log" ]; then
            echo "  $target: no log"
            continue
        fi
        # Fork mode's stat lines: "#RUNS: cov: N ft: N corp: N exec/s N oom/timeout/crash: a/b/c time: Ns ..."
        last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true)
        runs=$(sed -nE 's/^#([0-9]+):.*/\1/p' <<<"$last")
        cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
        ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
        corpus=$(find "$campaign/$target" -type f 2>/dev/null | wc -l)
        crashes=$(sed -nE 's/.*oom\/timeout\/crash: ([0-9]+\/[0-9]+\/[0-9]+).*/\1/p' <<<"$last")
        echo "  $target: ${runs:-0} runs, cov ${cov:-?}, ft ${ft:-?}, corpus $corpus files," \
            "oom/timeout/crash ${crashes:-0/0/0}$(grep -q 'INFO: exiting' "$log" && echo ', finished' || echo ', running or stopped')"
        found=$(find "$findings/$target" -type f 2>/dev/null | sort)
        [ -z "$found" ] || { echo "    findings (reproduce: build/native/fuzz/$target FILE):"; echo "$found" | sed 's/^/      /'; }
        # The kinds of failure met, counted, their values left out.
        grep -oE '/[^ ]*: runtime error: .*|MISMATCH: .*|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer).*' "$log" |
            sed -E 's/ -?[0-9]+( |$)/ N\1/g' | sort | uniq -c | sort -rn | head -n 5 | sed -E 's/^ */    /' || true
    done
}

if [ -n "$report_only" ]; then
    report
    exit 0
fi

mkdir -p "$campaign"
build=$(bash fuzz/build.sh fuzz 2>"$campaign/build.log") || { tail -n 30 "$campaign/build.log"; exit 1; }
export UBSAN_OPTIONS=print_stacktrace=1
pids=()
for target in "${targets[@]}"; do
    mkdir -p "$campaign/$target" "$findings/$target"
    seeds=("fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
    # Fork mode goes on past crashes, timeouts and running out of memory, keeping each input.
    "$build/$target" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$findings/$target/" "$campaign/$target" "${seeds[@]}" >"$campaign/$target.log" 2>&1 &
    pids+=($!)
    echo "started $target (pid $!) for ${seconds}s: $campaign/$target.log"
done
for pid in "${pids[@]}"; do wait "$pid" || true; done
report
