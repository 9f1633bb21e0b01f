#!/bin/bash
# SPDX-License-Identifier: MIT
# The dynamic interfaces between plug-in and host: the library's SONAME and release, binding at load
# time, its exports (its version script's) and the host services it needs, unversioned
# (the host's dynamic list; sanitizers' functions and operator new and delete aside); the
# host exports those and kill(), nothing else of its own, and never calls that kill().
#   exports_test.sh LIBRARY VERSION_SCRIPT HOST DYNAMIC_LIST RELEASE
set -euo pipefail
library=$1 script=$2 host=$3 list=$4 release=$5
fail() { echo "FAILED: $*"; exit 1; }
listed() { sed -n 's/^ *"\(.*\)";$/\1/p; s/^ *\([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$1" | LC_ALL=C sort; }
differ() { diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") || fail "$1 (< listed, > built)"; }

readelf -d "$library" | grep -q 'Library soname: \[libcorvane-kill.so.1n\]' || fail "SONAME"
readelf -d "$library" | grep -q 'FLAGS.*NOW' || fail "the library is not bound at load time"
strings -a "$library" | grep -x "corvane-kill $release" >/dev/null || fail "the release is not readable in the library"
[ "$(listed "$script" | wc -l)" -eq 5 ] || fail "expected five exports in $script"
[ "$(listed "$list" | wc -l)" -eq 8 ] || fail "expected seven services and kill in $list"

differ "the library's exports differ from $script" "$(listed "$script")" \
  "$(nm -DC --defined-only "$library" | cut -d' ' -f3- | LC_ALL=C sort)"
differ "the library needs other host services than $list names" "$(listed "$list" | grep -vx kill)" \
  "$(nm -DC --undefined-only "$library" | grep ' U ' | grep -v '@' | cut -c20- |
    grep '(' | grep -v '^operator ' | LC_ALL=C sort)"
differ "corvane-host's own exports differ from $list" "$(listed "$list")" \
  "$(nm -DC --defined-only "$host" | cut -d' ' -f3- |
    grep -v -E '@|^([^(]* )?(std|__gnu_cxx)::|^__(asan|lsan|ubsan|sanitizer)_' |
    grep -v -E '^(_IO_stdin_used|__bss_start|_edata|_end|_init|_fini)$' | LC_ALL=C sort || true)"
# The exported kill() is the plug-in's alone: the host's own code probes and
# signals through its pidfds and never calls it.
calls=$(objdump -d "$host" | grep -c -E 'call.*<kill(@[^>]*)?>' || true)
[ "$calls" -eq 0 ] || fail "corvane-host calls its own kill() $calls time(s)"
echo "the library and the host export and need exactly what their linker scripts list"
