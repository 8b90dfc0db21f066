#!/usr/bin/env bash
# Fails when a shipped file holds the absolute path of this source tree: file names in throw
# sites and debug information must read relative to the repository root.
# Usage: scripts/check-source-paths.sh FILE...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE..." >&2; exit 2; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
physical=$(cd "$root" && pwd -P)

failed=0
for file in "$@"; do
  found=$(strings -a "$file" | grep -F -e "$root/" -e "$physical/" | sort -u | head -5 || true)
  if [ -n "$found" ]; then
    echo "$file holds paths of the source tree $root, for example:" >&2
    sed 's/^/  /' <<<"$found" >&2
    failed=1
  fi
done
[ $failed -eq 0 ] && echo "source paths: none of $# shipped files names $root"
exit $failed
