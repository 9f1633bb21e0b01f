#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages from scripts/package, unpacked into a scratch root: their names
# and dependencies, one version everywhere, and the installed host loading
# the installed library to find a real process.
set -euo pipefail
packages=$1
version=$2
scratch=$(mktemp -d)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

library_deb=$(ls "$packages"/libcorvane-kill1n_"$version"_*.deb) || fail "no libcorvane-kill1n package"
host_deb=$(ls "$packages"/corvane-host_"$version"_*.deb) || fail "no corvane-host package"
dev_deb=$(ls "$packages"/libcorvane-kill-dev_"$version"_*.deb) || fail "no libcorvane-kill-dev package"
dpkg-deb -f "$host_deb" Depends | grep -q "libcorvane-kill1n (= $version)" ||
  fail "corvane-host does not depend on libcorvane-kill1n (= $version)"
dpkg-deb -f "$library_deb" Depends | grep -q "libstdc++6" || fail "the library lacks its C++ runtime"
for deb in "$library_deb" "$host_deb" "$dev_deb"; do
  package=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -c "$deb" | grep -q "./usr/share/doc/$package/copyright$" || fail "$package has no copyright file"
  dpkg -x "$deb" "$scratch/root"
done
grep -q '^License: Expat$' "$scratch/root/usr/share/doc/corvane-host/copyright" || fail "copyright names no licence"

library=$(ls "$scratch"/root/usr/lib/*/libcorvane-kill.so.1n) || fail "the library is not installed"
host=$scratch/root/usr/bin/corvane-host
[ -f "$scratch/root/usr/include/corvane-kill/host-services.h" ] || fail "no boundary header"
[ "$("$host" --version)" = "$version" ] || fail "corvane-host --version is not $version"
grep -aq "corvane-kill $version" "$library" || fail "the library does not carry $version"

mkdir -p "$scratch/corvane/bin"
cp /bin/sleep "$scratch/corvane/bin/corvane"
"$scratch/corvane/bin/corvane" 100 &
program_pid=$!
disown
sleep 0.3
status=0
result=$("$host" --log /dev/null --json check --root "$scratch/corvane") || status=$?
[ "$status" -eq 3 ] || fail "the installed host exited $status, not 3"
grep -q "\"plugin\": \"$library\"" <<<"$result" || fail "the installed host did not load $library"
grep -q "\"pid\": $program_pid" <<<"$result" || fail "process $program_pid was not found"
echo "packages install, carry version $version, and the installed host ends real processes"
