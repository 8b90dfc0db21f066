#!/usr/bin/env bash
# Compares the ABI of a built libLumoProject.so with the committed baseline, through libabigail.
#   scripts/check-abi.sh BUILD_DIR            fails on any change but added functions/variables
#   scripts/check-abi.sh --update BUILD_DIR   writes the baseline anew (on purpose: see CHANGELOG)
# Only types declared in the installed public headers count, and the representation holds no
# path of the checkout or build tree, so the result does not depend on where either lives.
set -euo pipefail
update=0
if [ "${1:-}" = --update ]; then
  update=1
  shift
fi
build=$(cd "${1:?usage: $0 [--update] BUILD_DIR}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
baseline="$root/abi/libLumoProject.abi"
library="$build/libLumoProject.so"
work="$build/abi-check"

if ! readelf -S --wide "$library" | grep -q '\.debug_info'; then
  echo "abi: $library has no debug information; build it with -g (RelWithDebInfo or Debug)" >&2
  exit 1
fi

# The public headers, exactly as installed.
rm -rf "$work"
cmake --install "$build" --component LumoProject_Development --prefix "$work/install" > /dev/null
headers="$work/install/include/LumoProject"

abidw_options=(--headers-dir "$headers" --drop-private-types --exported-interfaces-only
               --no-corpus-path --no-comp-dir-path --short-locs --type-id-style hash)
if [ $update -eq 1 ]; then
  mkdir -p "$(dirname "$baseline")"
  abidw "${abidw_options[@]}" --out-file "$baseline" "$library"
  echo "abi: wrote ${baseline#"$root"/} from $library"
  exit 0
fi
if [ ! -f "$baseline" ]; then
  echo "abi: no baseline at ${baseline#"$root"/}; create it with 'make abi-baseline'" >&2
  exit 1
fi
abidw "${abidw_options[@]}" --out-file "$work/current.abi" "$library"

# abidiff's status is a bit set: 1 error, 2 usage error, 4 ABI change, 8 incompatible change.
# Added functions and variables are the only change that passes: a host built against the
# baseline never calls them. Anything else (a type that grows, a virtual that moves, a removed
# or changed symbol, a new SONAME) fails, since libabigail marks many breaking changes with
# bit 4 alone.
status=0
abidiff --no-added-syms --no-show-locs "$baseline" "$work/current.abi" > "$work/report.txt" ||
  status=$?
if [ $status -ne 0 ]; then
  cat "$work/report.txt" >&2
  if [ $((status & 3)) -ne 0 ]; then
    echo "abi: abidiff failed (status $status)" >&2
  else
    echo "abi: libLumoProject.so is not compatible with the baseline (abidiff status $status)." >&2
    echo "abi: if the break is intended, it needs a new SONAME and 'make abi-baseline'." >&2
  fi
  exit 1
fi
added=0
abidiff --no-show-locs "$baseline" "$work/current.abi" > "$work/additions.txt" || added=$?
if [ $added -ne 0 ]; then
  echo "abi: compatible additions since the baseline (see $work/additions.txt):"
  grep -E '^(Functions|Variables) changes summary' "$work/additions.txt" | sed 's/^/  /'
fi
echo "abi: libLumoProject.so is compatible with ${baseline#"$root"/}"
