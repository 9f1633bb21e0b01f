#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test binary in a private pid namespace with its own /proc, where the
# machine allows one: a signal that a regression sends to the wrong ID, or to
# a process group, then cannot reach the machine's own processes.
#   in_pid_namespace.sh PROGRAM [ARGUMENT ...]
for isolate in "unshare --pid --fork --mount-proc --kill-child" \
               "unshare --user --map-root-user --pid --fork --mount-proc --kill-child"; do
  if $isolate true 2>/dev/null; then
    exec $isolate "$@"
  fi
done
echo "in_pid_namespace.sh: no private pid namespace here; running $1 as it is" >&2
exec "$@"
