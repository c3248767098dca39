#!/bin/sh
# Checks tools/powercut_fs.py by hand-made flows: each case mounts it on a
# fresh image (one durable file, keep = "old"), runs its flow in the mount
# under setsid, unmounts, and asserts on the saved durable tree (save/), the
# stats (stats) and the flow's output (out).
#
# Usage: sh tools/powercut_fs_selftest.sh
# Needs root, /dev/fuse and python3-fusepy (scripts/install-deps --crash);
# without them it says so and exits 77 (skipped). Exits 1 when a case fails.
set -u
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "powercut_fs_selftest: skipped: $1"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root"
[ -c /dev/fuse ] || skip "needs /dev/fuse"
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "needs python3-fusepy"

tmp=$(mktemp -d)
cleanup() {
    for b in "$tmp"/*/bg; do [ -f "$b" ] && kill "$(cat "$b")" 2>/dev/null; done
    for m in "$tmp"/*/m; do mountpoint -q "$m" && fusermount -u -z "$m"; done
    rm -rf "$tmp"
}
trap cleanup EXIT

# The package of the unzip case: a payload and an install script.
mkdir "$tmp/pkg"
head -c 300000 /dev/urandom >"$tmp/pkg/payload.bin"
printf '#!/bin/sh\nset -e\nmkdir -p opt\ncp payload.bin opt/p.tmp\nsync opt/p.tmp\nmv opt/p.tmp opt/p\nchmod 600 opt/p\necho install ok\n' \
    >"$tmp/pkg/install"
chmod 755 "$tmp/pkg/install"
(cd "$tmp/pkg" && zip -q "$tmp/pkg.zip" install payload.bin)

# Makes a directory's entries durable (fsync of the directory).
FSYNCDIR="fsyncdir() { /usr/bin/python3 -c 'import os, sys; os.fsync(os.open(sys.argv[1], os.O_RDONLY))' \"\$1\"; }"

alive() { s=$(ps -o stat= -p "$1") && [ "${s#Z}" = "$s" ]; }

# run NAME OPTIONS FLOW: one mount, one flow, one unmount.
run() {
    d=$tmp/$1
    mkdir -p "$d/img" "$d/m"
    echo old >"$d/img/keep"
    # shellcheck disable=SC2086 # the options are words
    /usr/bin/python3 "$here/powercut_fs.py" "$d/m" --image "$d/img" --save "$d/save" \
        --ready "$d/ready" --stats "$d/stats" $2 2>"$d/log" &
    fs=$!
    i=0
    while [ ! -e "$d/ready" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    # A setsid of its own waits for the flow: the script's shell sees no child killed.
    (cd "$d/m" && setsid --fork --wait sh -c "$FSYNCDIR; $3") >"$d/out" 2>&1
    echo "exit $?" >>"$d/out"
    ls "$d/m" >/dev/null 2>&1 || echo "mount EIO" >>"$d/out"
    # A process of the flow still in the mount keeps it busy: that fails the case.
    if ! fusermount -u "$d/m" 2>>"$d/log"; then
        echo "mount busy" >>"$d/out"
        fusermount -u -z "$d/m"
        kill $fs
    fi
    wait $fs
}

failures=0 cases=0
# name | options | flow (in the mount) | assertion (in the case's directory)
while IFS='|' read -r name opts flow check; do
    [ -n "$name" ] || continue
    cases=$((cases + 1))
    run "$name" "$opts" "$flow"
    if ! (cd "$tmp/$name" && eval "$check"); then
        failures=$((failures + 1))
        echo "FAIL $name: $check"
        sed 's/^/  out: /' "$tmp/$name/out"
        sed 's/^/  fs: /' "$tmp/$name/log"
        [ -f "$tmp/$name/stats" ] && sed 's/^/  stats: /' "$tmp/$name/stats"
    fi
done <<'EOF'
image kept|                       |cat keep                                     |[ "$(cat save/keep)" = old ] && [ "$(stat -c %Y save/keep)" = "$(stat -c %Y img/keep)" ] && grep -q '^old$' out
unsynced file lost|               |echo a >f; fsyncdir .                        |[ -f save/f ] && [ ! -s save/f ]
unsynced name lost|               |echo a >f; sync f                            |[ ! -e save/f ]
synced file, unsynced dir|        |mkdir d; echo a >d/f; sync d/f; fsyncdir .   |[ -d save/d ] && [ ! -e save/d/f ]
synced file and dirs|             |mkdir d; echo a >d/f; sync d/f; fsyncdir d; fsyncdir .|[ "$(cat save/d/f)" = a ]
unsynced rename|                  |echo a >t; mv t f; echo b >u; sync u; mv u g |grep -q '"rename t -> f: data not durable"' stats && ! grep -q 'rename u' stats
rename not durable|               |echo a >t; sync t; fsyncdir .; mv t f        |[ -e save/t ] && [ ! -e save/f ]
links, modes, owners|             |echo a >f; ln f h; ln -s f s; chmod 640 f; chown 12:34 f; sync f; fsyncdir .|[ save/f -ef save/h ] && [ "$(readlink save/s)" = f ] && [ "$(stat -c %a:%u:%g save/h)" = 640:12:34 ]
cut kills the flow|--cut-at 5     |setsid sh -c 'exec sleep 300' & echo $! >../bg; echo a >f; sync f; fsyncdir .; echo b >g; touch ../after|grep -q '"cut": "create g"' stats && [ "$(cat save/f)" = a ] && [ ! -e save/g ] && [ ! -e after ] && grep -q 'did not exit normally' out && grep -q 'mount EIO' out && ! alive "$(cat bg)"
cut at the first op|--cut-at 1        |touch ../before; echo a >f                   |[ -e before ] && [ ! -e save/f ] && grep -q '"cut": "create f"' stats
cut by a child in its own session|--cut-at 1|setsid sh -c 'echo a >f'; touch ../after|[ ! -e after ] && grep -q '"cut": "create f"' stats
injected ENOSPC|--fail write:x*:ENOSPC|/bin/echo a >x1; echo b >x2; sync x2; fsyncdir .|grep -q 'No space left on device' out && [ "$(cat save/x2)" = b ] && grep -q '"failed": "write x1 ENOSPC"' stats
rename fails on its target|--fail rename:f:EIO|echo a >t; mv t f; ls            |grep -q 'Input/output error' out && grep -q '^t$' out && grep -q '"failed": "rename f EIO"' stats
unzip and an install script|      |unzip -q ../../pkg.zip -d pkg && cd pkg && ./install && cmp opt/p payload.bin && stat -c %a opt/p|grep -q 'install ok' out && grep -q '^600$' out && grep -q 'exit 0' out && grep -q '"rename": 1' stats && ! grep -q 'opt/p' stats
EOF

echo "powercut_fs_selftest: $((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
