#!/usr/bin/env bash
# Checks the packages scripts/package.sh made, unpacked with dpkg-deb -x into
# an empty directory (nothing installed on the system), from there alone:
# no build tree on any path, no LD_LIBRARY_PATH.
#   - zksnap demo runs the whole lifecycle to success;
#   - the manual pages show every zksnap and zkfiler command;
#   - a host program compiles with pkg-config's flags and loads the plug-in
#     the pkg-config file names, and a CMake project finds the package and
#     builds against its headers.
#   scripts/check-packages.sh [PACKAGE_DIR]   (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
debs=("${1:-build-package}"/*.deb)
root=$(mktemp -d /tmp/zk-packages-XXXXXX)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root/tree"; done
usr=$root/tree/usr
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$root/work
mkdir -p "$work"
fail() { echo "check-packages: $*" >&2; exit 1; }

# A clean environment: the unpacked programs and the system's, nothing else.
clean=(env -i HOME="$work" PATH="$usr/bin:/usr/bin:/bin" LANG=C)

# Nothing unpacked may point into this checkout.
if grep -rlF "$PWD" "$root/tree" >/dev/null; then
  fail "unpacked files name the checkout: $(grep -rlF "$PWD" "$root/tree")"
fi

echo "=== packages: zksnap demo from $usr/bin"
(cd "$work" && "${clean[@]}" zksnap demo >"$root/demo.log" 2>&1) ||
  { cat "$root/demo.log"; fail "zksnap demo failed"; }
tail -n 1 "$root/demo.log"

echo "=== packages: manual pages"
for page in zksnap zkfiler; do
  man_text=$(MANWIDTH=200 "${clean[@]}" man -l "$usr/share/man/man1/$page.1.gz" 2>/dev/null)
  commands=$("${clean[@]}" "$page" --help |
    awk '/^Subcommands:/ { on = 1; next } /^[^ ]/ { on = 0 } on { print $1 }')
  [ -n "$commands" ] || fail "$page --help lists no command"
  for command in $commands; do
    grep -q "$page $command" <<<"$man_text" ||
      fail "$page.1 does not show the command '$command'"
  done
  echo "$page.1: $(wc -w <<<"$commands") commands"
done
grep -q '^EXIT STATUS' <<<"$(MANWIDTH=200 man -l "$usr/share/man/man1/zksnap.1.gz" 2>/dev/null)" ||
  fail "zksnap.1 has no EXIT STATUS"

echo "=== packages: a host built with pkg-config"
cat >"$work/host.cpp" <<'CPP'
// Loads the plug-in and looks up every export, as a host does.
#include <dlfcn.h>

#include <cstdio>

#include "host/ZKSnapPlugin.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  void* pHandle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr) {
    std::printf("%s\n", dlerror());
    return 1;
  }
  for (const char* pszName : ZKSO::kExportNames) {
    if (dlsym(pHandle, pszName) == nullptr) {
      std::printf("missing %s\n", pszName);
      return 1;
    }
  }
  uint16_t nMajor = 0, nMinor = 0, nRevision = 0;
  reinterpret_cast<ZKSO::Fn::zkso_version>(dlsym(pHandle, "zkso_version"))(
      &nMajor, &nMinor, &nRevision);
  std::printf("%u.%u.%u\n", nMajor, nMinor, nRevision);
  return 0;
}
CPP
pc=("${clean[@]}" PKG_CONFIG_PATH="$usr/lib/$multiarch/pkgconfig"
  pkg-config --define-variable=prefix="$usr")
plugin=$("${pc[@]}" --variable=plugin zksnap_celerra)
# shellcheck disable=SC2046
g++ -std=c++17 $("${pc[@]}" --cflags zksnap_celerra) "$work/host.cpp" \
  -o "$work/host" $("${pc[@]}" --libs zksnap_celerra)
# The plug-in's host libraries are the host's: here the simulator's.
version=$("${clean[@]}" \
  LD_PRELOAD="$usr/lib/$multiarch/zksnap-celerra-sim/libzkhost.so $usr/lib/$multiarch/zksnap-celerra-sim/libzkManageCelerra.so" \
  "$work/host" "$plugin") || fail "the host could not load $plugin: $version"
[ "$version" = 1.0.0 ] || fail "the plug-in answered version $version"
echo "pkg-config host: loaded $plugin, version $version"

echo "=== packages: a CMake project with find_package(zksnap_celerra)"
mkdir -p "$work/cmake-host"
cp "$work/host.cpp" "$work/cmake-host/host.cpp"
cat >"$work/cmake-host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(cmake_host CXX)
find_package(zksnap_celerra 1.0 REQUIRED)
add_executable(host host.cpp)
target_compile_features(host PRIVATE cxx_std_17)
target_link_libraries(host PRIVATE zksnap_celerra::host_headers ${CMAKE_DL_LIBS})
file(WRITE ${CMAKE_BINARY_DIR}/plugin.txt "${zksnap_celerra_PLUGIN}")
CMAKE
"${clean[@]}" cmake -S "$work/cmake-host" -B "$work/cmake-host/build" \
  -DCMAKE_PREFIX_PATH="$usr" >/dev/null
"${clean[@]}" cmake --build "$work/cmake-host/build" >/dev/null
[ "$(cat "$work/cmake-host/build/plugin.txt")" = "$plugin" ] ||
  fail "the CMake package names the plug-in $(cat "$work/cmake-host/build/plugin.txt"), not $plugin"
echo "CMake host: built; zksnap_celerra_PLUGIN is the installed plug-in"
echo "packages: checked"
