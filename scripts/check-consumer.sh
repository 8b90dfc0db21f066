#!/usr/bin/env bash
# Builds and runs examples/consumer the ways an integrator would:
#  1. against the build's install (CMake package and pkg-config);
#  2. as a subdirectory of a C++14 host with its own build type (examples/subproject), which
#     must keep the host's settings and add no install rules unless asked;
#  3. against an install with Debian's multiarch library folder (CMake package and pkg-config),
#     made from that host with LUMO_INSTALL=ON.
# Every program and library built or installed here is checked for empty RUNPATH elements,
# and the installed ones for paths of the source tree.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$build/consumer-check"
rm -rf "$work"
mkdir -p "$work/projects"
log="$work/consumer.log"

fail() {
  echo "consumer: $*" >&2
  exit 1
}

# Runs a consumer program; it prints the library's version from the version header, then the
# metadata document of a new project's two streams.
run_consumer() {
  local output
  output=$("$1" "$work/projects" 2>> "$log") || fail "$1 failed (see $log)"
  grep -qx "LumoProject $version" <<<"$output" || fail "$1 does not see version $version"
  grep -q '^VANTOR_SPECIFIC_METADATA={"lrmp"' <<<"$output" || fail "$1 did not create a project"
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

# Builds examples/consumer against an installed prefix, through CMake and through pkg-config.
check_install() {
  local prefix=$1 libdir=$2 name=$3
  cmake -S "$root/examples/consumer" -B "$work/$name-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    > /dev/null
  cmake --build "$work/$name-cmake" > /dev/null
  run_consumer "$work/$name-cmake/lumo-consumer"

  local pc_dir="$prefix/$libdir/pkgconfig" flags pc_libdir
  pc_libdir=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=libdir LumoProject)
  [ "$(readlink -f "$pc_libdir")" = "$(readlink -f "$prefix/$libdir")" ] ||
    fail "LumoProject.pc in $pc_dir names the library folder $pc_libdir"
  flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs LumoProject)
  # shellcheck disable=SC2086 # the flags are a list
  c++ -std=c++17 "$root/examples/consumer/main.cpp" -o "$work/$name-pkg-config" $flags \
    -Wl,-rpath,"$prefix/$libdir"
  run_consumer "$work/$name-pkg-config"

  local shipped=("$prefix/$libdir"/lib*.so.*.*.*)
  [ -e "$prefix/bin/lumo" ] && shipped+=("$prefix/bin/lumo")
  "$root/scripts/check-source-paths.sh" "${shipped[@]}" > /dev/null
  [ -f "$prefix/share/doc/LumoProject/LICENSE" ] || fail "$prefix has no share/doc/LumoProject/LICENSE"
  [ -f "$prefix/include/LumoProject/Lib/Project/LumoVersion.h" ] ||
    fail "$prefix has no Lib/Project/LumoVersion.h"
}

# 1. The build's own install.
installed_libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake --install "$build" --prefix "$work/install" > /dev/null
check_install "$work/install" "${installed_libdir:-lib}" install

# 2. A host that builds us as a subdirectory, with the same compiler and launcher as the build.
host_options=()
for variable in CMAKE_CXX_COMPILER CMAKE_CXX_COMPILER_LAUNCHER; do
  value=$(sed -n "s/^$variable:[A-Z]*=//p" "$build/CMakeCache.txt")
  [ -z "$value" ] || host_options+=("-D$variable=$value")
done
# Configured only: no build type of its own stays none, and nothing is installed by default.
cmake -S "$root/examples/subproject" -B "$work/host-plain" "${host_options[@]}" \
  -DLUMO_SOURCE_DIR="$root" -DCMAKE_BUILD_TYPE= > /dev/null
grep -qx 'CMAKE_BUILD_TYPE:STRING=' "$work/host-plain/CMakeCache.txt" ||
  fail "the host's empty CMAKE_BUILD_TYPE was set: $(grep '^CMAKE_BUILD_TYPE' "$work/host-plain/CMakeCache.txt")"
cmake --install "$work/host-plain" --prefix "$work/host-plain-install" > /dev/null
[ ! -e "$work/host-plain-install" ] || fail "a subproject build installs without LUMO_INSTALL=ON: $(
  cd "$work/host-plain-install" && find . -type f | head -3)"

# Built in Debug, the host's choice, and installed on purpose into a multiarch layout.
multiarch=lib/x86_64-linux-gnu
cmake -S "$root/examples/subproject" -B "$work/host" "${host_options[@]}" \
  -DLUMO_SOURCE_DIR="$root" -DCMAKE_BUILD_TYPE=Debug -DLUMO_INSTALL=ON \
  -DCMAKE_INSTALL_LIBDIR="$multiarch" > /dev/null
grep -qx 'CMAKE_BUILD_TYPE:STRING=Debug' "$work/host/CMakeCache.txt" ||
  fail "the host's CMAKE_BUILD_TYPE changed"
grep -qE -- '-std=(c|gnu)\+\+17' "$work/host/CMakeFiles/lumo-host.dir/flags.make" ||
  fail "the C++14 host's program is not compiled as C++17 against the headers"
cmake --build "$work/host" --target lumo-host -j"$(nproc)" > "$work/host-build.log"
run_consumer "$work/host/lumo-host"

# 3. The multiarch install.
cmake --install "$work/host" --prefix "$work/install-multiarch" > /dev/null
check_install "$work/install-multiarch" "$multiarch" multiarch

"$root/scripts/check-search-paths.sh" "$work" > /dev/null
echo "consumer: built and ran against the install (CMake, pkg-config), as a subproject of a" \
     "C++14 host (settings kept, no install rules), and against a multiarch install"
