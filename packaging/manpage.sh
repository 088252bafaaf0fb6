#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a program's manual page from its --help and --version with help2man,
# compressed as Debian wants it (gzip -9n).
# Usage: packaging/manpage.sh HELP2MAN PROGRAM "WHAT IT IS" MANDIR OUT.1.gz
# MANDIR holds common.h2m, the sections every page has, and may hold
# NAME.h2m with what only the program NAME's page says.
# Each line of the help's description becomes a paragraph of its own, as it
# reads on a terminal, instead of running on into the line before.
set -euo pipefail
[ $# -eq 5 ] || {
  echo "usage: manpage.sh HELP2MAN PROGRAM NAME MANDIR OUT.1.gz" >&2
  exit 2
}
help2man=$1 program=$2 name=$3 mandir=$4 out=$5
include=(--include="$mandir/common.h2m")
own="$mandir/$(basename "$program").h2m"
[ -f "$own" ] && include+=(--include="$own")

# The window program answers --help without a display; a sanitizer build's
# leak report at exit would make help2man give up.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
page=$("$help2man" --no-info --name="$name" "${include[@]}" "$program")
printf '%s\n' "$page" | awk '
/^\.SH / { description = ($0 == ".SH DESCRIPTION"); text = 0; print; next }
description && !/^\./ { if (text) print ".PP"; text = 1; print; next }
{ text = 0; print }' | gzip -9n >"$out"
