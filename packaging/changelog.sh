#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Turns CHANGELOG.md into the Debian changelog of the package, compressed
# the way Debian wants it (gzip -9n: no name, no timestamp, so the same notes
# always give the same bytes).
# Usage: packaging/changelog.sh CHANGELOG.md PACKAGE "NAME <MAIL>" VERSION OUT.gz
# Fails when the newest section is not VERSION or a line does not fit the
# format CHANGELOG.md describes.
set -euo pipefail
[ $# -eq 5 ] || {
  echo "usage: changelog.sh CHANGELOG.md PACKAGE MAINTAINER VERSION OUT.gz" >&2
  exit 2
}
in=$1 package=$2 maintainer=$3 version=$4 out=$5

text=$(LC_ALL=C awk -v package="$package" -v maintainer="$maintainer" -v version="$version" '
function fail(why) { printf "%s:%d: %s\n", FILENAME, FNR, why > "/dev/stderr"; bad = 1; exit 1 }
function close_entry() {
  if (entries > 0) printf "\n -- %s  %s\n", maintainer, date
}
/^## / {
  if (!match($0, /^## [0-9][0-9A-Za-z.+~-]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/))
    fail("a version heading is \"## VERSION (YYYY-MM-DD)\"")
  close_entry()
  v = $2
  d = substr($3, 2, 10)
  if (entries == 0 && v != version) fail("the newest version is " v ", the project says " version)
  cmd = "date -u -R -d " d
  date = ""
  cmd | getline date
  close(cmd)
  if (date == "") fail("not a date: " d)
  if (entries > 0) printf "\n"
  printf "%s (%s) unstable; urgency=medium\n\n", package, v
  entries++
  next
}
entries == 0 { next }
/^$/ { next }
/^- / { line = "  * " substr($0, 3) }
/^  [^ ]/ { line = "    " substr($0, 3) }
!/^- / && !/^  [^ ]/ { fail("an entry line starts with \"- \" or two spaces") }
{
  if (length(line) > 80) fail("longer than 80 characters in the Debian changelog")
  print line
}
END {
  if (bad) exit 1
  if (entries == 0) { print FILENAME ": no version section" > "/dev/stderr"; exit 1 }
  close_entry()
}' "$in")
printf '%s\n' "$text" | gzip -9n >"$out"
