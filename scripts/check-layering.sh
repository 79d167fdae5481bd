#!/usr/bin/env bash
# Checks that each library under src/ includes and links only the folders the README's layering
# table allows. The table is the one source: a row "| `folder` | `a`, `b` |" lets folder use a and b.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
declare -A allowed
folders=$(find src -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
while IFS= read -r row; do
  folder_cell=$(cut -d'|' -f2 <<<"$row")
  uses_cell=$(cut -d'|' -f3 <<<"$row")
  uses=$(grep -o '`[a-z_]*`' <<<"$uses_cell" | tr -d '`' | tr '\n' ' ' || true)
  if grep -q 'all of the above' <<<"$uses_cell"; then uses="$folders"; fi
  for f in $(grep -o '`[a-z_]*`' <<<"$folder_cell" | tr -d '`'); do
    allowed[$f]="$f $uses"
  done
done < <(sed -n '/^| folder | may use |/,/^$/p' README.md | tail -n +3)
status=0
for folder in $folders; do
  if [ -z "${allowed[$folder]+x}" ]; then
    echo "src/$folder is not in the README's layering table" >&2; status=1; continue
  fi
  while IFS=: read -r file line target; do
    used=${target%%/*}
    [ -d "src/$used" ] || continue
    if ! grep -qw -- "$used" <<<"${allowed[$folder]}"; then
      echo "$file:$line: $folder may not include $target" >&2; status=1
    fi
  done < <(grep -rnoE '^#include "[a-z_]+/[^"]+"' "src/$folder" | sed -E 's/#include "([^"]+)"/\1/')
done
# A library's link line names only what the table allows too.
for folder in $folders; do
  [ -n "${allowed[$folder]+x}" ] || continue
  for used in $(grep -oE 'quillby_[a-z_]+' "src/$folder/CMakeLists.txt" | sed 's/^quillby_//' | sort -u); do
    [ -d "src/$used" ] || continue
    if ! grep -qw -- "$used" <<<"${allowed[$folder]}"; then
      echo "src/$folder/CMakeLists.txt: $folder may not link quillby_$used" >&2; status=1
    fi
  done
done
[ $status -eq 0 ] && echo "layering: every include follows the README's table"
exit $status
