#!/bin/sh
# The built library's SONAME and its exact dynamic exports.
set -eu
library=$1
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
if [ "$soname" != "libcorvane-kill.so.1n" ]; then
  echo "SONAME is '$soname', not libcorvane-kill.so.1n"
  exit 1
fi
expected='_Z12find_processSt3mapIiNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEESt4lessIiESaISt4pairIKiS5_EEES5_
_Z16proc_str_to_listNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE
_Z17terminate_processi
check_running_corvane
kill_corvane'
actual=$(nm -D --defined-only --format=posix "$library" | cut -d' ' -f1 | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exports differ; expected:"; echo "$expected"; echo "actual:"; echo "$actual"
  exit 1
fi
if ! readelf -d "$library" | grep -q 'FLAGS.*NOW'; then
  echo "the library is not bound at load time (-z now)"; exit 1
fi
echo "SONAME and the five exports are as published"
