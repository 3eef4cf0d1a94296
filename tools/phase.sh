# shellcheck shell=bash
# Phases of a long command, sourced by tools/build.sh: each phase says when it starts, keeps
# its output in a log of its own under build/logs/, shows a progress line while it runs and
# says how long it took; the run ends with a table of every phase. On a terminal the
# progress line is redrawn in place every 2 s; anywhere else (CI's log) it is a plain line
# every 30 s, so a log holds no carriage returns.
#   phase_plan ID LABEL ID LABEL...   the phases of this run, in order
#   phase_run ID COMMAND...           runs one; on a failure shows its log's last lines,
#                                     the table, and exits with the command's status
#   phase_skip ID REASON              a phase this run leaves out
#   phase_summary                     the table

phase_logs=${phase_logs:-build/logs}
phase_ids=()
declare -A phase_label=() phase_result=() phase_seconds=()
phase_started=$SECONDS
phase_monitor=""

phase_plan() {
    while [ $# -ge 2 ]; do
        phase_ids+=("$1")
        phase_label[$1]=$2
        phase_result[$1]=skipped
        shift 2
    done
    mkdir -p "$phase_logs"
    trap phase_stop_monitor EXIT
}

phase_number() {
    local i
    for i in "${!phase_ids[@]}"; do
        [ "${phase_ids[$i]}" = "$1" ] && echo "$((i + 1))/${#phase_ids[@]}"
    done
}

# 75 -> "1m 15s"
phase_duration() {
    if [ "$1" -ge 60 ]; then
        printf '%dm %02ds' $(($1 / 60)) $(($1 % 60))
    else
        printf '%ds' "$1"
    fi
}

# The seconds a phase took when it last passed, kept for the next run's estimate.
phase_previous() {
    awk -v id="$1" '$1 == id { s = $2 } END { if (s) print s }' "$phase_logs/times" 2>/dev/null
}

phase_remember() {
    { grep -v "^$1 " "$phase_logs/times" 2>/dev/null || true; echo "$1 $2"; } >"$phase_logs/times.new"
    mv "$phase_logs/times.new" "$phase_logs/times"
}

# What the log says of the work done, from its latest line of one of these kinds: ninja's
# "[n/m]" (or the package step's own count), CTest's "n/m Test", a script's "== stage".
phase_done_of_all() {
    tail -c 65536 "$1" 2>/dev/null | tr '\r' '\n' | awk '
        match($0, /^\[[0-9]+\/[0-9]+\]/) { last = substr($0, 2, RLENGTH - 2) " steps" }
        /^ *[0-9]+\/[0-9]+ Test/ { last = $1 " tests" }
        /^== / { last = "at " substr($0, 4) }
        END { print last }'
}

# One progress line: what is done, the time so far and an estimate of what is left, from
# the rate of a build's steps, else from the last run of the same phase (tests and stages
# take unequal times).
phase_progress_line() {
    local id=$1 elapsed=$2 done_of_all left="" n m previous
    done_of_all=$(phase_done_of_all "$phase_logs/$id.log")
    if [[ $done_of_all =~ ^([0-9]+)/([0-9]+)\ steps ]]; then
        n=${BASH_REMATCH[1]} m=${BASH_REMATCH[2]}
        if [ "$n" -ge 5 ] && [ "$elapsed" -ge 10 ] && [ "$n" -lt "$m" ]; then
            left=$(((m - n) * elapsed / n))
        fi
    fi
    previous=$(phase_previous "$id")
    if [ -z "$left" ] && [ -n "$previous" ] && [ "$previous" -gt "$elapsed" ]; then
        left=$((previous - elapsed))
    fi
    printf '    %s: %s%s elapsed%s' "${phase_label[$id]}" "${done_of_all:+$done_of_all, }" \
        "$(phase_duration "$elapsed")" "${left:+, about $(phase_duration "$left") left}"
}

phase_watch() {
    local id=$1 start=$2 owner=$3 every=30 waited
    [ -t 1 ] && every=2
    while kill -0 "$owner" 2>/dev/null; do
        # A second at a time, so that no sleep outlives the watcher by more than that.
        for ((waited = 0; waited < every; waited++)); do sleep 1; done
        if [ -t 1 ]; then
            printf '\r\033[K%s' "$(phase_progress_line "$id" $((SECONDS - start)))"
        else
            printf '%s\n' "$(phase_progress_line "$id" $((SECONDS - start)))"
        fi
    done
}

phase_stop_monitor() {
    [ -n "$phase_monitor" ] || return 0
    kill "$phase_monitor" 2>/dev/null || true
    wait "$phase_monitor" 2>/dev/null || true
    phase_monitor=""
    [ -t 1 ] && printf '\r\033[K'
    return 0
}

phase_skip() {
    phase_result[$1]="skipped ($2)"
}

# The command runs in the foreground, so Ctrl-C and a sudo password prompt reach it as
# they would without the log; the progress line comes from a watcher beside it.
phase_run() {
    local id=$1 log start status
    shift
    log=$phase_logs/$id.log
    start=$SECONDS
    echo "[$(phase_number "$id")] ${phase_label[$id]} (log: $log)"
    phase_watch "$id" "$start" $$ &
    phase_monitor=$!
    set +e
    (
        set -e
        "$@"
    ) >"$log" 2>&1 </dev/null
    status=$?
    set -e
    phase_seconds[$id]=$((SECONDS - start))
    phase_stop_monitor
    if [ "$status" -ne 0 ]; then
        phase_result[$id]=FAILED
        phase_failed "$id" "$log" "$status"
    fi
    phase_result[$id]=passed
    phase_remember "$id" "${phase_seconds[$id]}"
    echo "    ${phase_label[$id]}: passed in $(phase_duration "${phase_seconds[$id]}")"
}

phase_failed() {
    local id=$1 log=$2 status=$3
    echo "    ${phase_label[$id]}: FAILED (exit status $status) after" \
        "$(phase_duration "${phase_seconds[$id]}"); the last lines of $log:"
    tail -n 40 "$log" | tr '\r' '\n' | tail -n 40 | sed 's/^/    | /'
    phase_summary
    echo "The whole output of ${phase_label[$id]} is in $log."
    exit "$status"
}

phase_summary() {
    local id seconds
    echo
    {
        printf '%-16s %-27s %8s  %s\n' phase result time log
        for id in "${phase_ids[@]}"; do
            seconds=${phase_seconds[$id]:-}
            printf '%-16s %-27s %8s  %s\n' "${phase_label[$id]}" "${phase_result[$id]}" \
                "${seconds:+$(phase_duration "$seconds")}" "${seconds:+$phase_logs/$id.log}"
        done
        printf '%-16s %-27s %8s\n' total "" "$(phase_duration $((SECONDS - phase_started)))"
    } | sed 's/ *$//'
}
