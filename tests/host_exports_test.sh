#!/bin/sh
# corvane-host exports the seven host services and none of its own functions.
set -eu
exports=$(nm -D --defined-only "$1" | c++filt)
for service in 'env_exists(' 'env_get_string' 'env_set_string(' 'print_log(' \
               'get_process_list' 'path(' 'get_dirname('; do
  if ! printf '%s\n' "$exports" | grep -qF " $service"; then
    echo "corvane-host does not export $service"; exit 1
  fi
done
if printf '%s\n' "$exports" | grep -q 'corvane_host::'; then
  echo "corvane-host exports its own functions:"; printf '%s\n' "$exports" | grep 'corvane_host::'
  exit 1
fi
echo "corvane-host exports the host services and nothing of its own"
