#!/bin/sh
# Reads a built executable with readelf and fails unless it carries the
# hardening the build asks for: a position-independent executable (ELF type
# DYN with the PIE flag), a read-only GOT resolved at start (GNU_RELRO and
# BIND_NOW), stack canaries (__stack_chk_fail imported) and, in optimised
# builds, the checked libc calls of _FORTIFY_SOURCE (some __*_chk imported).
#
# Usage: sh check_hardening.sh EXECUTABLE fortified|plain
set -eu
exe=${1:?usage: check_hardening.sh EXECUTABLE fortified|plain}
mode=${2:?usage: check_hardening.sh EXECUTABLE fortified|plain}
failed=0

fail() {
    echo "check_hardening: $exe: $*" >&2
    failed=1
}

header=$(readelf -h "$exe") || { echo "check_hardening: cannot read $exe" >&2; exit 1; }
dynamic=$(readelf -d "$exe")
segments=$(readelf -lW "$exe")
imports=$(readelf --dyn-syms -W "$exe" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')

echo "$header" | grep -Eq '^ *Type: +DYN' || fail "not a position-independent executable (ELF type is not DYN)"
echo "$dynamic" | grep -Eq '\(FLAGS_1\).* PIE' || fail "no PIE flag in FLAGS_1"
echo "$segments" | grep -Eq '^ *GNU_RELRO ' || fail "no GNU_RELRO segment"
echo "$dynamic" | grep -Eq '\(BIND_NOW\)|\(FLAGS\).* BIND_NOW' || fail "not linked with BIND_NOW"
echo "$imports" | grep -qx '__stack_chk_fail' || fail "__stack_chk_fail not imported (no stack protector)"
if [ "$mode" = fortified ]; then
    checked=$(echo "$imports" | grep -E '^__[a-z0-9_]+_chk$' | grep -vx '__stack_chk_fail' || true)
    if [ -n "$checked" ]; then
        echo "$exe: checked calls: $(echo $checked)"
    else
        fail "no __*_chk function imported (no _FORTIFY_SOURCE)"
    fi
fi
[ "$failed" -eq 0 ] || exit 1
echo "$exe: hardened ($mode)"
