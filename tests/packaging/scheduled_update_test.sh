#!/bin/sh
# The scheduled update script against a stand-in LmUpdate that records its
# runs: product 1000 first and alone, every other product after it, the
# success statuses (0, 1, 2) folded, the first failure kept, and a clear
# refusal without REGISTER_DIR or with a busy lock.
#
# Usage: sh scheduled_update_test.sh SCHEDULED_UPDATE_SCRIPT
set -u
script=${1:?usage: scheduled_update_test.sh SCRIPT}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lmsched.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

# The stand-in lists products 2000, 1000 and 7 (in that inventory order) and
# exits from --update --id N with the status in $scratch/status.N (0 when
# absent), logging "update N OPTIONS" to $scratch/runs.
cat >"$scratch/LmUpdate" <<'STUB'
#!/bin/sh
dir=$(dirname "$0")
case $1 in
    --list)
        [ -e "$dir/list.status" ] && exit "$(cat "$dir/list.status")"
        printf 'Installed products: \n\nProductID:   2000\nVersion:     1\n'
        printf '\nProductID:   1000\nVersion:     1\n\nProductID:   7\nVersion:     1\n'
        exit 0 ;;
    --update)
        id=$3; shift 3
        echo "update $id $*" >>"$dir/runs"
        [ -e "$dir/status.$id" ] && exit "$(cat "$dir/status.$id")"
        exit 0 ;;
esac
exit 99
STUB
chmod 755 "$scratch/LmUpdate"

# expect NAME STATUS EXPECTED_RUNS: runs the script, checks status and runs.
expect() {
    name=$1 want_status=$2 want_runs=$3
    rm -f "$scratch/runs"
    status=0
    LMUPDATE=$scratch/LmUpdate LMUPDATE_LOCK=$scratch/lock LMUPDATE_LOCK_WAIT=1 \
        sh "$script" >"$scratch/out" 2>&1 || status=$?
    runs=$(cat "$scratch/runs" 2>/dev/null | tr '\n' ';')
    if [ "$status" -ne "$want_status" ] || [ "$runs" != "$want_runs" ]; then
        echo "FAIL $name: status $status (want $want_status), runs '$runs' (want '$want_runs')"
        sed 's/^/  | /' "$scratch/out"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

REGISTER_DIR=$scratch/root
export REGISTER_DIR
LMUPDATE_OPTIONS="--throttle 64"
export LMUPDATE_OPTIONS

expect "self first, then the others in order" 0 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
echo 1 >"$scratch/status.1000"
echo 2 >"$scratch/status.7"
expect "success statuses give the highest" 2 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
echo 251 >"$scratch/status.2000"
echo 250 >"$scratch/status.7"
expect "the first failure is the status, later products still run" 251 \
    "update 1000 --throttle 64;update 2000 --throttle 64;update 7 --throttle 64;"
rm -f "$scratch"/status.*

echo 1 >"$scratch/list.status"
expect "an unreadable inventory is no success" 3 ""
echo 255 >"$scratch/list.status"
expect "nothing installed, nothing to do" 0 ""
rm -f "$scratch/list.status"

# Another holder of the lock (a manual run under flock) blocks the run. The
# holder is the process that keeps the lock and the only one killed, so
# nothing is left holding this script's output.
(flock 9 && : >"$scratch/held" && exec sleep 5) 9>"$scratch/lock" >/dev/null 2>&1 &
holder=$!
tries=0
until [ -e "$scratch/held" ] || [ "$tries" -ge 100 ]; do
    tries=$((tries + 1))
    sleep 0.05
done
expect "a busy lock stops the run" 75 ""
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

unset REGISTER_DIR
expect "REGISTER_DIR is required" 3 ""

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
