#!/usr/bin/env bash
# The operator's guide (docs/instrukcja.md) against the program:
# - every picture it names exists and is a PNG;
# - every text in „...” is one the program shows: a string literal of
#   ui/texts.h or ui/texts.cpp (adjacent literals joined, comments left out);
# - every text in **...** is a label of the form: a <string> of ui/Main.ui
#   (leading and trailing spaces ignored).
# A quotation must open and close on one line.
set -u
cd "$(dirname "$0")/.."
guide=${1:-docs/instrukcja.md}
status=0
fail() {
  echo "$guide: $*"
  status=1
}

while IFS= read -r image; do
  [ -f "docs/$image" ] || { fail "no picture docs/$image"; continue; }
  [ "$(head -c 8 "docs/$image" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "docs/$image is not a PNG"
done < <(grep -oP '!\[[^]]*\]\(\K[^)]+' "$guide")

shown=$(perl -0777 -ne 's/^#include[^\n]*//mg; s#//[^\n]*##g; s/"\s*\n\s*"//g; print "$1\n" while /"([^"\n]*)"/g' \
  ui/texts.h ui/texts.cpp)
labels=$(grep -oP '<string[^>]*>\K[^<]*' ui/Main.ui | sed 's/^ *//; s/ *$//')

unclosed=$(grep -n '„[^”]*$' "$guide")
[ -z "$unclosed" ] || fail "a „ quotation does not close on its line: $unclosed"

while IFS= read -r quote; do
  grep -qxF -- "$quote" <<<"$shown" || fail "the program never shows „$quote”"
done < <(grep -oP '„[^”]*”' "$guide" | sed 's/^„//; s/”$//')
while IFS= read -r label; do
  grep -qxF -- "$label" <<<"$labels" || fail "the form has no label **$label**"
done < <(grep -oP '\*\*.+?\*\*' "$guide" | sed 's/^\*\*//; s/\*\*$//')

grep -q '„' "$guide" || fail "quotes no text of the program"
exit $status
