#!/usr/bin/env bash
# The floors of the code: the widget-free libraries (link/, measure/,
# storage/, session/, sim/) never include the window (ui/) or the process
# entry (app/), no two folders include each other, and the operator's words
# live in ui/texts alone.
set -u
cd "$(dirname "$0")/.."
status=0
up=$(grep -rnE '#include +"(ui|app)/' link measure storage session sim)
if [ -n "$up" ]; then
  echo "A library reaches up into the window or the process entry:"
  echo "$up"
  status=1
fi
folders=(link measure storage session sim ui app)
for a in "${folders[@]}"; do
  for b in "${folders[@]}"; do
    [ "$a" \< "$b" ] || continue
    if grep -rqE "#include +\"$b/" "$a" && grep -rqE "#include +\"$a/" "$b"; then
      echo "$a/ and $b/ include each other"
      status=1
    fi
  done
done
# Polish letters in code outside ui/texts: an operator's text out of its place.
words=$(grep -rnP '^(?!\s*//).*[ąćęłńóśźżĄĆĘŁŃÓŚŹŻ]' --include='*.cpp' --include='*.h' \
  link measure storage session sim ui app | grep -v '^ui/texts\.')
if [ -n "$words" ]; then
  echo "Operator's text outside ui/texts:"
  echo "$words"
  status=1
fi
exit $status
