#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages scripts/package built and linted, Debian's and the RPMs, each kind
# unpacked: one version, no build path, hardened ELF files, a manual page naming
# every option, a host that loads its own library and only that one.
#   package_test.sh PACKAGES_DIR VERSION BUILD_MACHINE_PATH
set -euo pipefail
packages=$1 version=$2 build_path=$3
scratch=$(mktemp -d) program_pid=
trap '[ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

dpkg-deb -f "$packages/corvane-host_${version}"_*.deb Depends | grep -q "libcorvane-kill1n (= $version)" ||
  fail "corvane-host does not depend on libcorvane-kill1n (= $version)"
dpkg-deb --ctrl-tarfile "$packages"/libcorvane-kill1n_"$version"_*.deb | tar -xO ./shlibs |
  grep -qx "libcorvane-kill 1n libcorvane-kill1n (>= $version)" || fail "no shlibs for the library"
mkdir "$scratch/deb" "$scratch/rpm" "$scratch/corvane"
for deb in "$packages"/*_"$version"_*.deb; do dpkg -x "$deb" "$scratch/deb"; done
for rpm in "$packages"/*-"$version"-*."$(uname -m)".rpm; do rpm2cpio "$rpm" | cpio -idm --quiet -D "$scratch/rpm"; done
cp /bin/sleep "$scratch/corvane/corvane"
"$scratch/corvane/corvane" 100 &
program_pid=$!
disown
sleep 0.3  # until it runs the program
for root in "$scratch/deb" "$scratch/rpm"; do
  # Debug files may name sources; nothing else may name the build machine.
  found=$(grep -rlF "$build_path" "$root" | grep -v "^$root/usr/\(lib\|src\)/debug/" || true)
  [ -z "$found" ] || fail "these installed files name $build_path: $found"
  # PIE, stack protector, full RELRO, fortified calls (unless all are copies of
  # known size, which _FORTIFY_SOURCE leaves alone), exports entered by endbr64
  # (-fcf-protection; Debian 12's crt files lack CET, so no ELF has the IBT note).
  while IFS= read -r -d '' elf; do
    head -c4 "$elf" | grep -q ELF || continue
    hardening-check -v "$elf" | grep -v $'^\tunprotected: mem\\(cpy\\|move\\)$' |
      grep -q -e 'Fortify Source functions: yes' -e $'^\tunprotected' && fortify=() || fortify=(--nofortify)
    hardening-check --nocfprotection "${fortify[@]}" "$elf" >"$scratch/report" || fail "$(cat "$scratch/report")"
    strip -o "$scratch/exports" "$elf"  # the labels left are the exported functions
    entries=$(objdump -d -j .text "$scratch/exports" | awk '/^[0-9a-f]+ <[^+-]*>:$/ { getline; print $NF }')
    [ "$(sort -u <<<"$entries")" = endbr64 ] || fail "$elf: exported functions without endbr64"
  done < <(find "$root" -type f ! -path '*/debug/*' -print0)

  host=$root/usr/bin/corvane-host
  library=$(find "$root/usr" -name libcorvane-kill.so.1n -type f)
  [ -n "$library" ] || fail "the library is not installed in $root"
  [ "$("$host" --version)" = "$version" ] || fail "corvane-host --version is not $version"
  grep -aq "corvane-kill $version" "$library" || fail "the library does not carry $version"
  manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/corvane-host.1.gz" 2>&1) ||
    fail "the manual page does not render"
  for option in $("$host" --help-all | grep -oE '(^|[ ,])--[a-z-]+' | tr -d ' ,' | sort -u); do
    grep -qF -- "$option" <<<"$manual" || fail "the manual page does not mention $option"
  done

  status=0
  result=$("$host" --log /dev/null --json check --root "$scratch/corvane") || status=$?
  [ "$status" -eq 3 ] || fail "the host in $root exited $status, not 3"
  grep -q "\"plugin\": \"$library\"" <<<"$result" || fail "the host did not load $library"
  grep -q "\"pid\": $program_pid" <<<"$result" || fail "process $program_pid was not found"
  # Without its library the installed host says so, and loads no other.
  rm "$library"
  status=0
  error=$("$host" check --root "$scratch/corvane" 2>&1) || status=$?
  [ "$status" -eq 1 ] && grep -qF "the plug-in is missing: $library" <<<"$error" ||
    fail "the host without its library exited $status: $error"
done
echo "both kinds carry version $version, no build path and hardened ELF files; the manual page" \
  "documents every option; each host loads only the library installed with it"
