#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the packages scripts/package.sh made, unpacked with dpkg-deb -x into
# an empty directory (nothing installed on the system), from there alone:
# no build tree on any path, no LD_LIBRARY_PATH, no LD_PRELOAD.
#   - zksnap demo runs the whole lifecycle to success, in TMPDIR, and
#     zksnap --version
#     names the project's version (scripts/version.sh) for both;
#   - the manual pages show every zksnap and zkfiler command;
#   - a host program compiles with pkg-config's flags and, as
#     docs/integrating.md tells, opens the host libraries (here the
#     stand-ins of the folder the pkg-config file names) and then the
#     plug-in it names, finding all eleven exports; without them the
#     plug-in does not load, with the error the guide names; a CMake
#     project finds the package, builds the same host and runs it.
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
version=$(scripts/version.sh)
fail() { echo "check-packages: $*" >&2; exit 1; }

# A clean environment: the unpacked programs and the system's, nothing else.
clean=(env -i HOME="$work" PATH="$usr/bin:/usr/bin:/bin" LANG=C)

# Nothing unpacked may point into this checkout.
if grep -rlF "$PWD" "$root/tree" >/dev/null; then
  fail "unpacked files name the checkout: $(grep -rlF "$PWD" "$root/tree")"
fi

echo "=== packages: zksnap demo from $usr/bin"
mkdir -p "$work/tmp"
(cd "$work" && "${clean[@]}" TMPDIR="$work/tmp" zksnap demo --keep >"$root/demo.log" 2>&1) ||
  { cat "$root/demo.log"; fail "zksnap demo failed"; }
grep '^zksnap demo: the whole lifecycle ran' "$root/demo.log" ||
  fail "zksnap demo did not say the whole lifecycle ran"
kept=("$work"/tmp/zksnap-demo-*/catalog.db)
[ -f "${kept[0]}" ] || fail "zksnap demo --keep left no state directory in TMPDIR ($work/tmp)"
plugin_path=$usr/lib/$multiarch/zksnap_celerra/libzksnap_celerra.so
said=$(cd "$work" && "${clean[@]}" zksnap --version)
[ "$said" = "$(printf 'zksnap %s\nplug-in %s %s' "$version" "$plugin_path" "$version")" ] ||
  fail "zksnap --version says: $said"
echo "zksnap --version: $version for both"

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
# Each exit status zksnap --help lists is in the page's EXIT STATUS, and the
# pages say the summary and the exit statuses once, in their sections.
zksnap_page=$(MANWIDTH=200 "${clean[@]}" man -l "$usr/share/man/man1/zksnap.1.gz" 2>/dev/null)
page_codes=$(awk '/^EXIT STATUS/ { on = 1; next } /^[A-Z]/ { on = 0 } on && NF { print $1 }' <<<"$zksnap_page")
help_codes=$("${clean[@]}" zksnap --help | sed -n 's/^Exit status: //p' | tr ',' '\n' | awk '{ print $1 }')
[ -n "$help_codes" ] || fail "zksnap --help lists no exit status"
for code in $help_codes; do
  grep -qxF -- "$code" <<<"$page_codes" ||
    fail "zksnap --help lists exit status $code, zksnap.1's EXIT STATUS does not"
done
for page in zksnap zkfiler; do
  text=$(MANWIDTH=200 "${clean[@]}" man -l "$usr/share/man/man1/$page.1.gz" 2>/dev/null)
  n=$(grep -c "Exit status:" <<<"$text" || true)
  [ "$n" -eq 0 ] || fail "$page.1 repeats the exit statuses $n times outside EXIT STATUS"
  summary=$("${clean[@]}" "$page" --help | head -n 1)
  n=$(grep -cF -- "$summary" <<<"$text" || true)
  [ "$n" -eq 0 ] || fail "$page.1 repeats the summary '$summary'"
  # An option whose name and constraints fill the column runs into its text.
  if grep -qE -- '(Excludes|Needs): [^ ]+ [A-Za-z]' <<<"$text"; then
    fail "$page.1 runs option texts together: $(grep -E -- '(Excludes|Needs): [^ ]+ [A-Za-z]' <<<"$text" | head -n 1)"
  fi
done
grep -q "zkfiler - manage the state file" <<<"$(MANWIDTH=200 man -l "$usr/share/man/man1/zkfiler.1.gz" 2>/dev/null)" ||
  fail "zkfiler.1's NAME does not say what the command does"
echo "manual pages: exit statuses as zksnap --help lists them ($(echo $help_codes)), each said once"

echo "=== packages: a host built with pkg-config"
cat >"$work/host.cpp" <<'CPP'
// Opens the host libraries globally, then the plug-in, and looks up every
// export, as docs/integrating.md tells a host to.
//   host PLUGIN HOST_LIBRARY...
#include <dlfcn.h>

#include <cstdio>

#include "host/ZKSnapPlugin.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  for (int i = 2; i < argc; ++i) {
    if (dlopen(argv[i], RTLD_NOW | RTLD_GLOBAL) == nullptr) {
      std::printf("%s\n", dlerror());
      return 1;
    }
  }
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
# The pkg-config file finds its paths from its own folder: no
# --define-variable.
pc=("${clean[@]}" PKG_CONFIG_PATH="$usr/lib/$multiarch/pkgconfig" pkg-config)
plugin=$(realpath -m "$("${pc[@]}" --variable=plugin zksnap_celerra)")
simlibdir=$(realpath -m "$("${pc[@]}" --variable=simlibdir zksnap_celerra)")
[ "$plugin" = "$plugin_path" ] || fail "pkg-config names the plug-in $plugin"
pc_version=$("${pc[@]}" --modversion zksnap_celerra)
[ "$pc_version" = "$version" ] || fail "pkg-config says version $pc_version, not $version"
hostlibs=()
for lib in $("${pc[@]}" --variable=hostlibs zksnap_celerra); do
  hostlibs+=("$simlibdir/$lib")
done
[ ${#hostlibs[@]} -eq 2 ] || fail "pkg-config names ${#hostlibs[@]} host libraries, not 2"
# shellcheck disable=SC2046
g++ -std=c++17 $("${pc[@]}" --cflags zksnap_celerra) "$work/host.cpp" \
  -o "$work/host" $("${pc[@]}" --libs zksnap_celerra)
# Without its host libraries the plug-in does not load, as the guide says.
if out=$("${clean[@]}" "$work/host" "$plugin"); then
  fail "the plug-in loaded without its host libraries"
fi
grep -q "libzkhost.so: cannot open shared object file" <<<"$out" ||
  fail "without its host libraries the plug-in failed otherwise than the guide says: $out"
answered=$("${clean[@]}" "$work/host" "$plugin" "${hostlibs[@]}") ||
  fail "the host could not load $plugin: $answered"
[ "$answered" = "$version" ] || fail "the plug-in answered version $answered, not $version"
echo "pkg-config host: loaded $plugin after its host libraries, 11 exports, version $answered"

echo "=== packages: a CMake project with find_package(zksnap_celerra)"
mkdir -p "$work/cmake-host"
cp "$work/host.cpp" "$work/cmake-host/host.cpp"
cat >"$work/cmake-host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(cmake_host CXX)
find_package(zksnap_celerra ${ZK_VERSION} EXACT REQUIRED)
add_executable(host host.cpp)
target_compile_features(host PRIVATE cxx_std_17)
target_link_libraries(host PRIVATE zksnap_celerra::host_headers ${CMAKE_DL_LIBS})
set(libs)
foreach(lib ${zksnap_celerra_HOST_LIBRARIES})
  list(APPEND libs "${zksnap_celerra_SIM_LIBRARY_DIR}/${lib}")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/run.txt "${zksnap_celerra_PLUGIN}\n${libs}\n")
CMAKE
"${clean[@]}" cmake -S "$work/cmake-host" -B "$work/cmake-host/build" \
  -DCMAKE_PREFIX_PATH="$usr" -DZK_VERSION="$version" >/dev/null
"${clean[@]}" cmake --build "$work/cmake-host/build" >/dev/null
mapfile -t run <"$work/cmake-host/build/run.txt"
[ "$(realpath -m "${run[0]}")" = "$plugin" ] ||
  fail "the CMake package names the plug-in ${run[0]}, not $plugin"
IFS=';' read -r -a cmake_libs <<<"${run[1]}"
answered=$("${clean[@]}" "$work/cmake-host/build/host" "${run[0]}" "${cmake_libs[@]}") ||
  fail "the CMake host could not load ${run[0]}: $answered"
[ "$answered" = "$version" ] || fail "the CMake host's plug-in answered $answered, not $version"
echo "CMake host: built and run; the package's plug-in and host libraries load, version $answered"
echo "packages: checked"
