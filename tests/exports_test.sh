#!/bin/bash
# SPDX-License-Identifier: MIT
# The built library's SONAME, its binding at load time, and its dynamic
# exports, which must be exactly the names the version script lists.
#   exports_test.sh LIBRARY VERSION_SCRIPT
set -euo pipefail
library=$1
script=$2
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
if [ "$soname" != "libcorvane-kill.so.1n" ]; then
  echo "SONAME is '$soname', not libcorvane-kill.so.1n"; exit 1
fi
if ! readelf -d "$library" | grep -q 'FLAGS.*NOW'; then
  echo "the library is not bound at load time (-z now)"; exit 1
fi
# The C names stand bare under global:, the C++ names quoted and demangled.
expected=$(sed -n 's/^ *"\(.*\)";$/\1/p; s/^    \([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$script" | LC_ALL=C sort)
actual=$(nm -DC --defined-only "$library" | cut -d' ' -f3- | LC_ALL=C sort)
if [ "$(printf '%s\n' "$expected" | wc -l)" -ne 5 ]; then
  echo "expected five exports in $script, read:"; printf '%s\n' "$expected"; exit 1
fi
if [ "$actual" != "$expected" ]; then
  echo "exports differ from $script:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
echo "SONAME and the five exports are as $script lists them"
