#!/usr/bin/env bash
# docs_test.sh DOXYFILE HEADER: the reference renders with no warning, and a
# public declaration without its documentation fails it.
set -euo pipefail
doxyfile="$1"
header="$2"
work="$(mktemp -d /tmp/ravlin-docs-XXXXXX)"
trap 'rm -rf "$work"' EXIT

# The reference as it stands, into a folder of its own.
sed -E "s|^OUTPUT_DIRECTORY .*|OUTPUT_DIRECTORY = $work/good|" "$doxyfile" >"$work/Doxyfile.good"
if ! doxygen "$work/Doxyfile.good" >"$work/good.log" 2>&1; then
  cat "$work/good.log"
  echo "the reference does not render cleanly"
  exit 1
fi
[ -f "$work/good/html/index.html" ] || { echo "no HTML written"; exit 1; }
if [ -s "$work/good.log" ]; then
  cat "$work/good.log"
  echo "doxygen had something to say"
  exit 1
fi

# The same header with one operation that says nothing about itself.
sed 's|^#endif /\* RAVLIN_H \*/|RAVLIN_API int UndocumentedOperation(int value);\n&|' "$header" >"$work/ravlin.h"
grep -q UndocumentedOperation "$work/ravlin.h" || { echo "could not add the declaration"; exit 1; }
sed -E -e "s|^OUTPUT_DIRECTORY .*|OUTPUT_DIRECTORY = $work/bad|" \
  -e "s|^INPUT .*|INPUT = $work/ravlin.h $(grep -E '^USE_MDFILE_AS_MAINPAGE' "$doxyfile" | sed -E 's/.*= *//')|" \
  "$doxyfile" >"$work/Doxyfile.bad"
if doxygen "$work/Doxyfile.bad" >"$work/bad.log" 2>&1; then
  echo "an undocumented declaration did not fail the reference"
  exit 1
fi
grep -q "UndocumentedOperation" "$work/bad.log" || { cat "$work/bad.log"; echo "the failure does not name it"; exit 1; }
echo "the reference renders cleanly; an undocumented declaration fails it"
