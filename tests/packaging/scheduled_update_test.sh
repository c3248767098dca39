#!/bin/sh
# The scheduled update script against a stand-in LmUpdate that records its
# runs: product 1000 first and alone, every other product after it, the
# success statuses (0, 1, 2) folded, the first failure kept, only the ids
# of `--list --ids` acted on, a stop passed on to the running product and
# no product started after it, and a clear refusal without REGISTER_DIR or
# with a busy lock.
#
# Usage: sh scheduled_update_test.sh SCHEDULED_UPDATE_SCRIPT
set -u
script=${1:?usage: scheduled_update_test.sh SCRIPT}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lmsched.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

# The stand-in lists products 2000, 1000 and 7 (in that inventory order);
# in the full listing the description of 2000 forges a line for product
# 666. It exits from --update --id N with the status in $scratch/status.N
# (0 when absent), logging "update N OPTIONS" to $scratch/runs; with
# $scratch/hold.N it first waits (5 s at most) for SIGTERM, logging
# "stopped N" when it comes.
cat >"$scratch/LmUpdate" <<'STUB'
#!/bin/sh
dir=$(dirname "$0")
case $1 in
    --list)
        [ -e "$dir/list.status" ] && exit "$(cat "$dir/list.status")"
        [ "${2:-}" = --ids ] && { printf '2000\n1000\n7\n'; exit 0; }
        printf 'Installed products: \n\nProductID:   2000\nDescription: a\nProductID:   666\n'
        printf 'Version:     1\n\nProductID:   1000\nVersion:     1\n\nProductID:   7\nVersion:     1\n'
        exit 0 ;;
    --update)
        id=$3; shift 3
        code=$(cat "$dir/status.$id" 2>/dev/null || echo 0)
        [ -e "$dir/hold.$id" ] && [ ! -e "$dir/dies" ] &&
            trap 'echo "stopped $id" >>"$dir/runs"; exit "$code"' TERM
        echo "update $id $*" >>"$dir/runs"
        if [ -e "$dir/hold.$id" ]; then
            n=0
            while [ "$n" -lt 100 ]; do n=$((n + 1)); sleep 0.05; done
        fi
        exit "$code" ;;
esac
exit 99
STUB
chmod 755 "$scratch/LmUpdate"

# The script runs the stand-in, with a lock of its own.
LMUPDATE=$scratch/LmUpdate LMUPDATE_LOCK=$scratch/lock LMUPDATE_LOCK_WAIT=1
export LMUPDATE LMUPDATE_LOCK LMUPDATE_LOCK_WAIT

# verdict NAME STATUS WANT_STATUS WANT_RUNS: checks a finished run.
verdict() {
    name=$1 status=$2 want_status=$3 want_runs=$4
    runs=$(cat "$scratch/runs" 2>/dev/null | tr '\n' ';')
    if [ "$status" -ne "$want_status" ] || [ "$runs" != "$want_runs" ]; then
        echo "FAIL $name: status $status (want $want_status), runs '$runs' (want '$want_runs')"
        sed 's/^/  | /' "$scratch/out"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

# expect NAME STATUS EXPECTED_RUNS: runs the script, checks status and runs.
expect() {
    rm -f "$scratch/runs"
    status=0
    sh "$script" >"$scratch/out" 2>&1 || status=$?
    verdict "$1" "$status" "$2" "$3"
}

# await TEST...: until the test holds, 5 s at most.
await() {
    tries=0
    until "$@" || [ "$tries" -ge 100 ]; do
        tries=$((tries + 1))
        sleep 0.05
    done
}

REGISTER_DIR=$scratch/root
export REGISTER_DIR
LMUPDATE_OPTIONS="--throttle 64"
export LMUPDATE_OPTIONS

expect "self first, then the others in order, none of a forged line" 0 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
echo 1 >"$scratch/status.1000"
echo 2 >"$scratch/status.7"
expect "success statuses give the highest" 2 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
echo 227 >"$scratch/status.2000"
expect "a run held back by the byte budget is a success" 2 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
echo 251 >"$scratch/status.2000"
echo 250 >"$scratch/status.7"
expect "the first failure is the status, later products still run" 251 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
rm -f "$scratch"/status.*

# systemctl stop (SIGTERM to the script alone) while product 2000 is being
# updated: the stop reaches that run, the script waits for it and ends with
# its status (not the earlier failure of 1000), and product 7 is not started.
echo 251 >"$scratch/status.1000"
echo 2 >"$scratch/status.2000"
: >"$scratch/hold.2000"
# stop_during_2000: runs the script, stops it once 2000 runs, sets status;
# a script still running 10 s later is killed.
stop_during_2000() {
    rm -f "$scratch/runs"
    sh "$script" >"$scratch/out" 2>&1 &
    wrapper=$!
    await grep -qs '^update 2000' "$scratch/runs"
    kill -TERM "$wrapper"
    (sleep 10 && kill -KILL "$wrapper") >/dev/null 2>&1 &
    watchdog=$!
    status=0
    wait "$wrapper" || status=$?
    kill "$watchdog" 2>/dev/null
}
stop_during_2000
verdict "a stop reaches the running product, and no other starts" "$status" 2 \
    "update 1000 --throttle 64;update 2000 --throttle 64;stopped 2000;"
# A run that the signal ends (before LmUpdate takes its stop signals).
: >"$scratch/dies"
stop_during_2000
verdict "a run ended by the stop signal ends the script" "$status" 143 \
    "update 1000 --throttle 64;update 2000 --throttle 64;"
rm -f "$scratch"/status.* "$scratch/hold.2000" "$scratch/dies"

echo 1 >"$scratch/list.status"
expect "an unreadable inventory is no success" 3 ""
echo 255 >"$scratch/list.status"
expect "nothing installed, nothing to do" 0 ""
rm -f "$scratch/list.status"

# Run by hand before the service made its runtime directory: it is made.
LMUPDATE_LOCK=$scratch/run/lmupdate.lock
expect "a missing lock directory is made" 0 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
LMUPDATE_LOCK=$scratch/lock

# Another holder of the lock (a manual run under flock) blocks the run. The
# holder is the process that keeps the lock and the only one killed, so
# nothing is left holding this script's output.
(flock 9 && : >"$scratch/held" && exec sleep 5) 9>"$scratch/lock" >/dev/null 2>&1 &
holder=$!
await [ -e "$scratch/held" ]
expect "a busy lock stops the run" 75 ""
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

unset REGISTER_DIR
expect "REGISTER_DIR is required" 3 ""

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
