# SPDX-License-Identifier: MIT
# CHANGELOG.md as a Debian changelog: one entry per "## VERSION — DATE"
# section (DATE may carry a time, 2026-12-06T13:00Z, for a second release
# on one day), its "- " items as "  * " items, wrapped within 80 columns. A
# section without a version ("## Unreleased") is not released: it is left out.
#   awk -v source=NAME -v maintainer="NAME <ADDRESS>" -f debian-changelog.awk CHANGELOG.md
function flush_item(    words, n, i, line) {
  if (item == "") return
  n = split(item, words, " ")
  line = "  *"
  for (i = 1; i <= n; i++) {
    if (length(line) + 1 + length(words[i]) > 80 && line != "  *" && line != "   ") {
      print line
      line = "   "
    }
    line = line " " words[i]
  }
  print line
  item = ""
}
function close_entry(    cmd, stamp) {
  flush_item()
  if (version == "") return
  cmd = "date -u -R -d " date
  cmd | getline stamp
  close(cmd)
  printf "\n -- %s  %s\n", maintainer, stamp
}
/^## / {
  close_entry()
  if ($2 !~ /^[0-9]/) { version = ""; next }
  if (entries++) printf "\n"
  version = $2
  date = $NF
  printf "%s (%s) unstable; urgency=medium\n\n", source, version
  next
}
version != "" && /^- / { flush_item(); item = substr($0, 3); next }
version != "" && /^  [^ ]/ && item != "" { item = item " " substr($0, 3); next }
END { close_entry() }
