#!/usr/bin/env bash
# The test command's own output, as CI's log gets it: a line as each phase starts and ends,
# the last lines of the phase that failed, the table, the failed phase's exit status, and
# not one carriage return.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/run.sh" <<'END'
set -euo pipefail
phase_logs=$1/logs
source "$2"
phase_plan fine fine broken broken later "later phase"
phase_run fine echo "[1/1] one step"
phase_run broken sh -c 'echo first; echo "last words" >&2; exit 3'
phase_run later true
END
# Times to the second would make the comparison depend on when a second turns.
bash "$work/run.sh" "$work" "$1" 2>&1 | sed -E 's/\b[0-9]+s\b/Ns/g' >"$work/out"
status=${PIPESTATUS[0]}
expected="[1/3] fine (log: $work/logs/fine.log)
    fine: passed in Ns
[2/3] broken (log: $work/logs/broken.log)
    broken: FAILED (exit status 3) after Ns; the last lines of $work/logs/broken.log:
    | first
    | last words

phase            result                          time  log
fine             passed                            Ns  $work/logs/fine.log
broken           FAILED                            Ns  $work/logs/broken.log
later phase      skipped
total                                              Ns
The whole output of broken is in $work/logs/broken.log."
fail=0
[ "$status" -eq 3 ] || { echo "exit status $status, not 3"; fail=1; }
if ! diff <(echo "$expected") "$work/out"; then fail=1; fi
if grep -q $'\r' "$work/out"; then echo "a carriage return in a log"; fail=1; fi
grep -qxE 'fine [0-9]+' "$work/logs/times" || { echo "the passed phase's time is not kept"; fail=1; }
exit $fail
