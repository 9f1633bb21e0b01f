#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test binary in a private pid namespace with its own /proc, where the
# machine allows one: a signal that a regression sends to the wrong ID, or to
# a process group, then cannot reach the machine's own processes. Its mount
# namespace gets an empty /run of its own: the lock files root's host makes
# there stay the test's, and go with it.
#   in_pid_namespace.sh PROGRAM [ARGUMENT ...]
private_run='mount -t tmpfs -o mode=0755 corvane-test-run /run ||
  echo "in_pid_namespace.sh: no private /run; the host may leave its lock directory in /run" >&2
exec "$@"'
for isolate in "unshare --pid --fork --mount-proc --kill-child" \
               "unshare --user --map-root-user --pid --fork --mount-proc --kill-child"; do
  if $isolate true 2>/dev/null; then
    exec $isolate /bin/sh -c "$private_run" in_pid_namespace.sh "$@"
  fi
done
echo "in_pid_namespace.sh: no private pid namespace here; running $1 as it is" >&2
exec "$@"
