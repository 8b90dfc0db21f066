#!/usr/bin/env bash
# Fails when an ELF program or library under the given folders (or given itself) has an empty
# element in its RUNPATH or RPATH: the loader reads it as the current directory.
# Usage: scripts/check-search-paths.sh FOLDER_OR_FILE...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FOLDER_OR_FILE..." >&2; exit 2; }

checked=0
failed=0
while IFS= read -r -d '' file; do
  [ "$(head -c4 "$file" 2>/dev/null)" = $'\x7fELF' ] || continue
  dynamic=$(readelf -d "$file" 2>/dev/null) || continue
  checked=$((checked + 1))
  while IFS= read -r path; do
    if [ -z "$path" ] || [[ "$path" == :* || "$path" == *: || "$path" == *::* ]]; then
      echo "empty search path element in $file: [$path]" >&2
      failed=1
    fi
  done < <(sed -nE 's/.*\((RUNPATH|RPATH)\).*\[(.*)\]$/\2/p' <<<"$dynamic")
done < <(find "$@" -type f \( -name '*.so*' -o -perm -u+x \) -print0)

[ $failed -eq 0 ] && echo "search paths: $checked ELF files, no empty RUNPATH/RPATH element"
exit $failed
