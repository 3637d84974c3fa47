#!/usr/bin/env bash
# The floors of the code: the widget-free libraries (link/, measure/,
# storage/, sim/) never include the window (ui/) or the process entry (app/),
# and no two folders include each other.
set -u
cd "$(dirname "$0")/.."
status=0
up=$(grep -rnE '#include +"(ui|app)/' link measure storage sim)
if [ -n "$up" ]; then
  echo "A library reaches up into the window or the process entry:"
  echo "$up"
  status=1
fi
folders=(link measure storage sim ui app)
for a in "${folders[@]}"; do
  for b in "${folders[@]}"; do
    [ "$a" \< "$b" ] || continue
    if grep -rqE "#include +\"$b/" "$a" && grep -rqE "#include +\"$a/" "$b"; then
      echo "$a/ and $b/ include each other"
      status=1
    fi
  done
done
exit $status
