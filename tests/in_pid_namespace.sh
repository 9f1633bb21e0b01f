#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test binary in a private pid namespace with its own /proc, where the machine allows
# one (a wrong signal cannot reach the machine's processes), and an empty /run of its own
# (the lock files root's host makes there go with the test).
#   in_pid_namespace.sh PROGRAM [ARGUMENT ...]
private_run='mount -t tmpfs -o mode=0755 corvane-test-run /run ||
  { echo "in_pid_namespace.sh: cannot make a private /run" >&2; exit 1; }
exec "$@"'
for isolate in "unshare --pid --fork --mount-proc --kill-child" \
               "unshare --user --map-root-user --pid --fork --mount-proc --kill-child"; do
  if $isolate true 2>/dev/null; then
    exec $isolate /bin/sh -c "$private_run" in_pid_namespace.sh "$@"
  fi
done
echo "in_pid_namespace.sh: no private pid namespace here; running $1 as it is" >&2
exec "$@"
