#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked source file does not name its licence in an SPDX line
# at its top: the first line, or the second after a shebang.
# Usage: scripts/check-spdx.sh [--fix] [FILE...]
#   --fix   insert the line where it is missing (a shebang stays first);
#           running it again changes nothing
#   FILE    check only these files (default: every tracked source file)
set -euo pipefail
cd "$(dirname "$0")/.."

licence="GPL-3.0-or-later"
fix=0
files=()
for arg in "$@"; do
  case "$arg" in
  --fix) fix=1 ;;
  -*)
    echo "check-spdx.sh: unknown option $arg (use --fix)" >&2
    exit 2
    ;;
  *) files+=("$arg") ;;
  esac
done
if [ ${#files[@]} -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h' '*CMakeLists.txt' '*.cmake' '*.sh' \
    '*.lua' '.ci/run')
fi

# The comment leader each kind of file uses.
leader() {
  case "$1" in
  *.cpp | *.h) echo "//" ;;
  *.lua) echo "--" ;;
  *) echo "#" ;;
  esac
}

missing=0
for f in "${files[@]}"; do
  want="$(leader "$f") SPDX-License-Identifier: $licence"
  first=$(head -n 1 "$f")
  line=1
  [[ "$first" == "#!"* ]] && line=2
  if [ "$(sed -n "${line}p" "$f")" = "$want" ]; then
    continue
  fi
  if [ "$fix" = 1 ]; then
    tmp=$(mktemp)
    if [ "$line" = 2 ]; then
      { printf '%s\n%s\n' "$first" "$want"; tail -n +2 "$f"; } >"$tmp"
    else
      { printf '%s\n' "$want"; cat "$f"; } >"$tmp"
    fi
    # Keep the file's mode (scripts stay executable): overwrite in place.
    cat "$tmp" >"$f"
    rm -f "$tmp"
    echo "check-spdx.sh: added the licence line to $f"
  else
    echo "$f:$line: expected \"$want\"" >&2
    missing=$((missing + 1))
  fi
done

if [ "$missing" -gt 0 ]; then
  echo "check-spdx.sh: $missing file(s) lack the SPDX line; fix with: bash scripts/check-spdx.sh --fix" >&2
  exit 1
fi
[ "$fix" = 1 ] || echo "SPDX: every source names its licence ($licence)"
