#!/bin/bash
# SPDX-License-Identifier: MIT
# corvane-host exports exactly the host services and kill() its dynamic list names, and
# nothing else of its own. The rest of what it exports belongs to the C and
# C++ runtimes (copy-relocated objects, versioned, and vague-linkage
# instantiations of the standard library) or to the sanitizers, which the
# linker must export.
#   host_exports_test.sh HOST DYNAMIC_LIST
set -euo pipefail
host=$1
list=$2
expected=$(sed -n 's/^ *"\(.*\)";$/\1/p; s/^  \([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$list" | LC_ALL=C sort)
actual=$(nm -DC --defined-only "$host" | cut -d' ' -f3- |
  grep -v -E '@|^([^(]* )?(std|__gnu_cxx)::|^__(asan|lsan|ubsan|sanitizer)_' |
  grep -v -E '^(_IO_stdin_used|__bss_start|_edata|_end|_init|_fini)$' | LC_ALL=C sort || true)
if [ "$(printf '%s\n' "$expected" | wc -l)" -ne 8 ]; then
  echo "expected the seven services and kill in $list, read:"; printf '%s\n' "$expected"; exit 1
fi
if [ "$actual" != "$expected" ]; then
  echo "corvane-host's own exports differ from $list (< listed, > exported):"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
  exit 1
fi
echo "corvane-host exports the seven host services and kill() of $list and nothing else of its own"
