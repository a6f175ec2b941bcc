#!/bin/sh
# run-target.sh TARGET CORPUS WORK SECONDS [DICTIONARY]
# Replays the corpus, then fuzzes for SECONDS (0: replay only). New inputs go
# to WORK/new, a crash, leak or hang to WORK/artifacts/; any of them fails.
# libFuzzer's log is WORK/last.log; printed are the executions and their
# speed, and on a failure the end of the log.
set -u
target=$1 corpus=$2 work=$3 seconds=$4 dictionary=${5:-}
mkdir -p "$work/new" "$work/artifacts"
if [ "$seconds" -eq 0 ]; then
    set -- -runs=0
else
    set -- -max_total_time="$seconds"
fi
log="$work/last.log"
rc=0
"$target" "$@" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    ${dictionary:+-dict="$dictionary"} "$work/new" "$corpus" >"$log" 2>&1 || rc=$?
units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
replayed=$(sed -n 's/^#\([0-9]*\)[[:space:]]*INITED.*/\1/p' "$log")
echo "$(basename "$target"): ${units:-?} executions (${replayed:-?} inputs replayed), ${speed:-?} per second"
if [ "$rc" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$(basename "$target"): FAILED (exit code $rc); the input is in $work/artifacts/"
fi
exit "$rc"
