#!/usr/bin/env bash
# The host developer's kit as a user gets it, from a finished default build:
# installs into a temporary prefix and moves the tree (no run path and no
# pkg-config path may depend on where it was installed), builds the example
# host there with pkg-config alone and with find_package, the second with a
# host library of its own, and runs them against the installed plcsim,
# checks that the installed headers and the C library's <err.h> go together
# in a host, and builds and lists the Debian package (cpack --preset deb).
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "kit-check: $*" >&2
  exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
cmake --install build --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
# The built tree too: its programs are run from wherever the user stands.
bash scripts/check-runpath.sh "$prefix" build >/dev/null || fail "a run path searches the working directory"
for file in "$prefix"/lib/*.so "$prefix"/lib/morvane/*.so "$prefix"/bin/*; do
  runpath=$(readelf -d "$file" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
  case $runpath in
  '' | '$ORIGIN' | '$ORIGIN/'*) ;;
  *) fail "$file carries the run path $runpath" ;;
  esac
done
for page in morvane plcsim; do
  gzip -t "$prefix/share/man/man1/$page.1.gz" 2>/dev/null || fail "no man page for $page"
done
soname=$(readelf -d "$prefix/lib/libmorvane.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libmorvane.so.$(cut -d. -f1,2 <<<"$version")" ] || fail "libmorvane.so has the SONAME '$soname'"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
libdir=$(pkg-config --variable=libdir morvane)
# shellcheck disable=SC2046 # pkg-config's flags are separate words
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror $(pkg-config --cflags morvane) \
  "$prefix/share/doc/morvane/examples/read_write.c" -o "$work/read_write" \
  $(pkg-config --libs morvane) -Wl,-rpath,"$libdir"
"$prefix/share/doc/morvane/examples/run_against_plcsim.sh" "$prefix/bin/plcsim" \
  "$work/read_write" 321 2>"$work/example.log" | tee "$work/example.out"
grep -qx "001002 = 321, 001010F = -2.5" "$work/example.out" ||
  { cat "$work/example.log" >&2; fail "the installed example host failed"; }
"$prefix/bin/morvane" info | grep -q "channel area: *4135 bytes" ||
  fail "the installed morvane does not find the installed driver"

# The same host through find_package, and then with a host library of its
# own, built with the kit's version script: the driver takes it, silently.
mkdir "$work/cmake_host"
cat >"$work/cmake_host/CMakeLists.txt" <<'PROJECT'
cmake_minimum_required(VERSION 3.20)
project(host C)
find_package(morvane 0.1 REQUIRED)
add_executable(read_write ${EXAMPLE})
target_link_libraries(read_write PRIVATE morvane::morvane)
set_target_properties(read_write PROPERTIES BUILD_RPATH ${LIBDIR})
add_library(ostrel SHARED own_ostrel.c)
target_link_libraries(ostrel PRIVATE morvane::morvane)
target_link_options(ostrel PRIVATE -Wl,--version-script=${morvane_HOST_LIBRARY_MAP})
PROJECT
cat >"$work/cmake_host/own_ostrel.c" <<'LIBRARY'
#define MORVANE_OSTREL_ERR_NAME
#include <morvane/ostrel.h>
#include <stdarg.h>
#include <stdio.h>
int err(int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    fprintf(stderr, "own %d: ", level);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
    va_end(arguments);
    return 0;
}
uint16_t OstMkClient(const char* name, int one, int zero, uint8_t* id) {
    (void)name, (void)one, (void)zero;
    *id = 1;
    return 0;
}
int OstGetOstrelVer(uint8_t id, uint16_t* version, char* buffer) {
    (void)id, (void)buffer;
    *version = 820;
    return 0;
}
int OstRmClient(uint8_t id) {
    return (int)id - 1;
}
LIBRARY
cmake -S "$work/cmake_host" -B "$work/cmake_host/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DEXAMPLE="$prefix/share/doc/morvane/examples/read_write.c" -DLIBDIR="$libdir" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake_host/build" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "find_package(morvane) gives no host that builds"; }
LD_LIBRARY_PATH=$work/cmake_host/build "$prefix/share/doc/morvane/examples/run_against_plcsim.sh" \
  "$prefix/bin/plcsim" "$work/cmake_host/build/read_write" 123 >"$work/own.out" 2>"$work/own.log" ||
  { cat "$work/own.log" >&2; fail "the host with its own host library failed"; }
grep -qx "001002 = 123, 001010F = -2.5" "$work/own.out" || fail "the find_package host read wrong"
grep -q "^own 32: ZIDIV> ColdStart() port" "$work/own.log" ||
  { cat "$work/own.log" >&2; fail "the driver did not log through the host's own library"; }
! grep -q "version information" "$work/own.log" || fail "the loader warned: $(cat "$work/own.log")"

# A C89 host that includes <err.h> with the headers: its err() is the C
# library's, which exits with the code given (the host library's returns).
cat >"$work/err_host.c" <<'HOST'
#include <err.h>
#include <morvane/morvane.h>
#include <morvane/ostrel.h>
int32_t (*volatile driver_entry)(TevRequest*) = TevMain;
int main(void) {
    err(3, "the C library's err()");
    return driver_entry != 0 ? 0 : 1;
}
HOST
# shellcheck disable=SC2046
cc -std=c89 -pedantic-errors -Wall -Wextra -Werror $(pkg-config --cflags morvane) \
  "$work/err_host.c" -o "$work/err_host" $(pkg-config --libs morvane) -Wl,-rpath,"$libdir"
status=0
"$work/err_host" 2>/dev/null || status=$?
[ "$status" -eq 3 ] || fail "a host's err() did not reach the C library (status $status)"

rm -rf build/packages
cpack --preset deb >"$work/cpack.log" || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls build/packages/*.deb)
dpkg -c "$deb" | tee "$work/contents"
dpkg-deb -f "$deb" Package Version Depends
for path in usr/lib/libmorvane.so usr/lib/libmorvane.so.$version usr/lib/morvane/libostrel.so \
  usr/lib/pkgconfig/morvane.pc usr/lib/cmake/morvane/morvane-config.cmake \
  usr/share/morvane/host_library.map usr/include/morvane/morvane.h usr/bin/morvane \
  usr/bin/plcsim usr/share/man/man1/morvane.1.gz usr/share/man/man1/plcsim.1.gz \
  usr/share/doc/morvane/README.md usr/share/doc/morvane/docs/writing-a-host.md; do
  grep -qE " \./$path( -> .*)?\$" "$work/contents" || fail "$deb lacks $path"
done
# The stand-in stays out of the system's library path, where a site's own
# host library is installed by its own package.
! grep -q " \./usr/lib/libostrel\.so" "$work/contents" || fail "$deb puts the stand-in in /usr/lib"
# A host's package that links the driver gets a dependency on this one.
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./shlibs | grep -qx "libmorvane $(cut -d. -f1,2 <<<"$version") morvane (>= $version)" ||
  fail "$deb has no shlibs entry for libmorvane"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 2 ] || fail "$deb has no long description"
echo "kit-check: installed tree, example hosts (pkg-config, find_package, own host library), <err.h> host and $(basename "$deb") fine"
