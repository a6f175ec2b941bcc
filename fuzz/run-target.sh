#!/bin/sh
# run-target.sh TARGET CORPUS WORK SECONDS [DICTIONARY]
# Replays the corpus, then fuzzes for SECONDS (0: replay only). New inputs go
# to WORK/new, a crash, leak or hang to WORK/artifacts/; any of them fails.
set -eu
target=$1 corpus=$2 work=$3 seconds=$4 dictionary=${5:-}
mkdir -p "$work/new" "$work/artifacts"
if [ "$seconds" -eq 0 ]; then
    set -- -runs=0
else
    set -- -max_total_time="$seconds"
fi
exec "$target" "$@" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    ${dictionary:+-dict="$dictionary"} "$work/new" "$corpus"
