#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs examples/consumer against it,
# once through the CMake package and once through pkg-config.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix="$build/consumer-check/install"
work="$build/consumer-check"
rm -rf "$work"

cmake --install "$build" --prefix "$prefix" > /dev/null
cmake -S "$root/examples/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$work/cmake" > /dev/null
mkdir -p "$work/projects"
"$work/cmake/lumo-consumer" "$work/projects" 2> "$work/consumer.log" |
  grep -q '^VANTOR_SPECIFIC_METADATA={"lrmp"'

flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs LumoProject)
# shellcheck disable=SC2086 # the flags are a list
c++ -std=c++17 "$root/examples/consumer/main.cpp" -o "$work/pkg-config-consumer" $flags \
  -Wl,-rpath,"$prefix/lib"
"$work/pkg-config-consumer" "$work/projects" > /dev/null 2>> "$work/consumer.log"
echo "consumer: built and ran against the installed package (CMake and pkg-config)"
