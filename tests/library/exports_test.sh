#!/usr/bin/env bash
# exports_test.sh LIBRARY HEADER: the shared library's dynamic symbols are
# exactly the operations the public header declares, both ways: nothing of the
# library's own inside leaks out, and nothing declared is missing (undefined,
# or defined with C++ linkage under a mangled name).
set -euo pipefail
library="$1"
header="$2"
work="$(mktemp -d /tmp/ravlin-exports-XXXXXX)"
trap 'rm -rf "$work"' EXIT

# Declarations start a line with RAVLIN_API; the name is the word before "(".
grep -E '^RAVLIN_API ' "$header" | sed -E 's/\(.*//; s/.*[ *]//' | sort -u >"$work/declared"
nm -D --defined-only "$library" | awk 'NF == 3 { print $3 }' | sed 's/@.*//' | sort -u >"$work/exported"

[ -s "$work/declared" ] || { echo "no declarations found in $header"; exit 1; }
missing="$(comm -23 "$work/declared" "$work/exported")"
extra="$(comm -13 "$work/declared" "$work/exported")"
if [ -n "$missing" ] || [ -n "$extra" ]; then
  [ -z "$missing" ] || printf 'declared in ravlin.h but not exported:\n%s\n' "$missing"
  [ -z "$extra" ] || printf 'exported but not declared in ravlin.h:\n%s\n' "$extra"
  exit 1
fi
echo "$(wc -l <"$work/declared") operations declared, the same exported"
