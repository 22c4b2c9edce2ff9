#!/usr/bin/env bash
# Checks the release package: unpacks it, verifies SHA256SUMS, the contents,
# the version resources and the symbols, and builds a small C host against
# the package alone with the i686 cross compiler: linked with the MinGW and
# the MSVC import library, through the CMake package and through pkg-config;
# and a C host without a C runtime, built by clang and lld-link (MSVC style).
# Runs the hosts where the kernel runs 32-bit programs.
#   tests/package/check_package.sh build/package/IxaLoader-<version>-win32.zip
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/arches.sh"
zip=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-package: $*" >&2
  exit 1
}

[ -f "$zip.sha256" ] || fail "$(basename "$zip").sha256 is missing"
(cd "$(dirname "$zip")" && sha256sum --quiet --strict -c "$(basename "$zip").sha256") || fail "$(basename "$zip").sha256 does not match"
unzip -q "$zip" -d "$work"
cd "$work/$(basename "$zip" .zip)" || fail "the archive has no folder $(basename "$zip" .zip)"
sha256sum --quiet --strict -c SHA256SUMS || fail "SHA256SUMS does not match"
[ "$(find . -type f ! -name SHA256SUMS -printf '%P\n' | sort)" = "$(cut -c67- SHA256SUMS | sort)" ] ||
  fail "SHA256SUMS does not list exactly the other files"
for file in bin/IxaLoader.dll bin/IxaLoader.pdb bin/IxaLoader.dll.debug bin/ixa_probe.exe bin/console_simulator.exe bin/processor_module.dll \
  bin/sample_host.exe lib/libIxaLoader.dll.a lib/IxaLoader.lib lib/IxaLoader.def include/IxaLoader.h \
  lib/cmake/IxaLoader/IxaLoaderConfig.cmake lib/cmake/IxaLoader/IxaLoaderConfigVersion.cmake \
  lib/pkgconfig/ixaloader.pc doc/INTEGRATION.md README.md CHANGELOG.md LICENSE tools/wireshark/ixaloader.lua; do
  [ -f "$file" ] || fail "$file is missing"
done
# The examples are what a host developer builds from, and nothing internal.
[ "$(find examples -type f -printf '%P\n' | sort | tr '\n' ' ')" = "tools/c_host/ixa_c_host.c tools/sample_host/sample_host.cpp " ] ||
  fail "examples/ holds $(find examples -type f -printf '%P ')"
i686-w64-mingw32-g++ -std=c++17 -Wall -Wextra -Werror -Iinclude examples/tools/sample_host/sample_host.cpp \
  -o "$work/sample_host.exe" -static || fail "the sample host does not build from the package"
version=$(basename "$zip" .zip | sed -E 's/^IxaLoader-(.*)-win(32|64)$/\1/')
for file in bin/IxaLoader.dll bin/durururu-dir32-udezar.exe bin/ixa_probe.exe bin/console_simulator.exe \
  bin/processor_module.dll bin/sample_host.exe; do
  grep -q 'VERSIONINFO (ID 16)' <<<"$(llvm-readobj --coff-resources "$file")" || fail "$file has no version resource"
  strings=$(strings -el "$file")
  for field in "FileVersion" "ProductVersion" "OriginalFilename" "CompanyName" "LegalCopyright"; do
    value=$(grep -A1 -x "$field" <<<"$strings" | sed -n 2p)
    case $field in
      *Version) [ "$value" = "$version" ] || fail "$file: $field is '$value', expected $version" ;;
      OriginalFilename) [ "$value" = "$(basename "$file")" ] || fail "$file: OriginalFilename is '$value'" ;;
      CompanyName) [ "$value" = "The IxaLoader developers" ] || fail "$file: CompanyName is '$value'" ;;
      LegalCopyright) [[ $value == *MIT* ]] || fail "$file: LegalCopyright is '$value'" ;;
    esac
  done
done
# Symbols: no DWARF in the DLL, and no path of the packing machine in it or in
# its DWARF; the debug link names the file beside it with its CRC; the PDB is
# named by its bare file name, matches the DLL's GUID and age and names the
# exports.
sections=$(i686-w64-mingw32-objdump -h bin/IxaLoader.dll)
grep -q ' \.debug_' <<<"$sections" && fail "bin/IxaLoader.dll still carries DWARF"
size=$(stat -c %s bin/IxaLoader.dll)
((size < 1048576)) || fail "bin/IxaLoader.dll is $size bytes"
for file in bin/IxaLoader.dll bin/IxaLoader.dll.debug; do
  grep -qF "$root" <<<"$(strings "$file")" && fail "$file names a folder of the packing machine ($root)"
done
i686-w64-mingw32-objcopy --dump-section .gnu_debuglink="$work/debuglink" bin/IxaLoader.dll "$work/scratch.dll"
link=$(od -An -tx1 -v "$work/debuglink" | tr -d ' \n')
[ "${link:0:38}" = "$(printf 'IxaLoader.dll.debug' | od -An -tx1 | tr -d ' \n')" ] || fail "the debug link does not name IxaLoader.dll.debug"
crc=$(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' bin/IxaLoader.dll.debug)
[ "${link: -8}" = "${crc:6:2}${crc:4:2}${crc:2:2}${crc:0:2}" ] || fail "the debug link's CRC does not match bin/IxaLoader.dll.debug"
directory=$(llvm-readobj --coff-debug-directory bin/IxaLoader.dll)
grep -q 'PDBFileName: IxaLoader.pdb$' <<<"$directory" || fail "the debug directory does not name IxaLoader.pdb by its bare name"
read -r -a b <<<"$(sed -n 's/.*PDBGUID: (\(.*\))/\1/p' <<<"$directory")"
guid="{${b[3]}${b[2]}${b[1]}${b[0]}-${b[5]}${b[4]}-${b[7]}${b[6]}-${b[8]}${b[9]}-${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}}"
summary=$(llvm-pdbutil dump --summary bin/IxaLoader.pdb)
grep -q "GUID: $guid" <<<"$summary" || fail "bin/IxaLoader.pdb's GUID is not the DLL's $guid"
[ "$(sed -n 's/.*PDBAge: //p' <<<"$directory")" = "$(sed -n 's/^ *Age: //p' <<<"$summary")" ] || fail "bin/IxaLoader.pdb's age is not the DLL's"
publics=$(llvm-pdbutil dump --publics bin/IxaLoader.pdb)
for export in $(sed -n '/^EXPORTS/,$p' lib/IxaLoader.def | awk 'NR > 1 && NF { print $1 }'); do
  grep -q "\`_$export\`" <<<"$publics" || fail "bin/IxaLoader.pdb does not name $export"
done

# Whole outputs are searched: grep -q ending a pipe early fails it under pipefail.
grep -q 'file format pei-i386' <<<"$(i686-w64-mingw32-objdump -f bin/IxaLoader.dll)" || fail "bin/IxaLoader.dll is not i686"

for import in libIxaLoader.dll.a IxaLoader.lib; do
  host=bin/package_host_${import%%.*}.exe
  i686-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror -Iinclude "$root/tests/package/package_host.c" \
    "lib/$import" -o "$host" || fail "the host does not build against lib/$import"
  grep -q 'DLL Name: IxaLoader.dll' <<<"$(i686-w64-mingw32-objdump -p "$host")" || fail "$host does not import IxaLoader.dll"
done

# An MSVC-style link: the C host without a C runtime, compiled by clang for
# the MSVC target and linked by lld-link against lib/IxaLoader.lib and a
# kernel32 import library made here. It proves the import library with an
# MSVC-style linker, not with link.exe itself.
llvm-dlltool -m i386 -k -d "$root/tests/package/kernel32.def" -l "$work/kernel32.lib" ||
  fail "no kernel32 import library"
clang --target=i686-pc-windows-msvc -ffreestanding -O1 -Wall -Wextra -Werror -Iinclude \
  -c examples/tools/c_host/ixa_c_host.c -o "$work/ixa_c_host.obj" || fail "the C host does not compile for the MSVC target"
lld-link /nologo /entry:HostMain /nodefaultlib /subsystem:console "$work/ixa_c_host.obj" lib/IxaLoader.lib \
  "$work/kernel32.lib" /out:bin/package_host_lld_link.exe || fail "lld-link does not link the C host with lib/IxaLoader.lib"
[ "$(i686-w64-mingw32-objdump -p bin/package_host_lld_link.exe | awk '/DLL Name:/ { print $3 }' | sort | tr '\n' ' ')" = \
  "IxaLoader.dll kernel32.dll " ] || fail "the C host imports more than IxaLoader.dll and kernel32.dll"

# An integrator's CMake project, with the package as its only prefix: the
# target brings the header, the MinGW import library and the DLL, which the
# project copies beside its host from the imported location.
cmake -S "$root/tests/package/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" -DCMAKE_PREFIX_PATH="$PWD" >"$work/consumer.log" 2>&1 &&
  cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log" >&2; fail "the CMake consumer does not build"; }
cmp -s "$work/consumer/IxaLoader.dll" bin/IxaLoader.dll || fail "the CMake consumer did not get bin/IxaLoader.dll"
# And through pkg-config.
[ "$(PKG_CONFIG_LIBDIR="$PWD/lib/pkgconfig" pkg-config --modversion ixaloader)" = "$version" ] ||
  fail "lib/pkgconfig/ixaloader.pc does not give version $version"
# shellcheck disable=SC2046 # the flags are words
i686-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror "$root/tests/package/package_host.c" \
  $(PKG_CONFIG_LIBDIR="$PWD/lib/pkgconfig" pkg-config --cflags --libs ixaloader) -o bin/package_host_pkgconfig.exe ||
  fail "the host does not build with pkg-config's flags"

if ixa_runs_i686; then
  IXA_ARCH=i686 "$root/scripts/sandbox.sh" bash -c \
    'cd bin && for host in package_host_*.exe "$1/package_host_cmake.exe"; do "$0" "$host" || exit 1; done' \
    "$root/scripts/wine-run.sh" "$work/consumer" ||
    fail "a package host failed"
  echo "check-package: $(basename "$zip"): sums, contents, symbols, version resources;" \
    "both import libraries, lld-link, the CMake package and pkg-config linked and run"
else
  echo "check-package: $(basename "$zip"): sums, contents, symbols, version resources;" \
    "both import libraries, lld-link, the CMake package and pkg-config linked;" \
    "the hosts were not run: $ixa_i686_why_not"
fi
