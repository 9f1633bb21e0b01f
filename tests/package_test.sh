#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages from scripts/package: lintian accepts them with no error or
# warning; unpacked into a scratch root they carry one version, name no path
# of the build machine, install a manual page that documents every option,
# and the installed host loads the installed library, and only that one.
#   package_test.sh PACKAGES_DIR VERSION BUILD_MACHINE_PATH
set -euo pipefail
packages=$1 version=$2 build_path=$3
scratch=$(mktemp -d) program_pid=
trap '[ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

# lintian leaves working files in TMPDIR: the scratch directory takes them.
mkdir "$scratch/tmp"
TMPDIR=$scratch/tmp lintian --fail-on error,warning --tag-display-limit 0 "$packages"/*.deb ||
  fail "lintian reports the above"
host_deb=$(ls "$packages"/corvane-host_"$version"_*.deb) || fail "no corvane-host package"
dpkg-deb -f "$host_deb" Depends | grep -q "libcorvane-kill1n (= $version)" ||
  fail "corvane-host does not depend on libcorvane-kill1n (= $version)"
dpkg-deb --ctrl-tarfile "$packages"/libcorvane-kill1n_"$version"_*.deb | tar -xO ./shlibs |
  grep -qx "libcorvane-kill 1n libcorvane-kill1n (>= $version)" || fail "no shlibs for the library"
for deb in "$packages"/*.deb; do dpkg -x "$deb" "$scratch/root"; done

# Debug information may name sources; nothing else may name the build machine.
found=$(grep -rlF "$build_path" "$scratch/root" | grep -v "^$scratch/root/usr/lib/debug/" || true)
[ -z "$found" ] || fail "these installed files name $build_path: $found"
host=$scratch/root/usr/bin/corvane-host
library=$(ls "$scratch"/root/usr/lib/*/libcorvane-kill.so.1n) || fail "the library is not installed"
[ "$("$host" --version)" = "$version" ] || fail "corvane-host --version is not $version"
grep -aq "corvane-kill $version" "$library" || fail "the library does not carry $version"
manual=$(MANWIDTH=200 man -l "$scratch/root/usr/share/man/man1/corvane-host.1.gz" 2>&1) ||
  fail "the manual page does not render"
for option in $("$host" --help-all | grep -oE '(^|[ ,])--[a-z-]+' | tr -d ' ,' | sort -u); do
  grep -qF -- "$option" <<<"$manual" || fail "the manual page does not mention $option"
done

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

# Without its library the installed host says so, and loads no other.
rm "$library"
status=0
error=$("$host" check --root "$scratch/corvane" 2>&1) || status=$?
[ "$status" -eq 1 ] && grep -qF "the plug-in is missing: $library" <<<"$error" ||
  fail "the host without its library exited $status: $error"
echo "lintian accepts the packages; they carry version $version and no build path; the manual" \
  "page documents every option; the installed host loads only the installed library"
