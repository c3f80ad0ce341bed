#!/bin/sh
# Checks a Windows build's binaries with the toolchain's objdump:
# - SkinH_EL.dll exports SkinH_Attach_Ex by its plain name, as the programs look it up, and on
#   i686 the function is stdcall (it removes its own 8 bytes of arguments: "ret $0x8");
# - no binary needs a DLL of the toolchain (libstdc++, libgcc, winpthread): they ship alone;
# - the programs are GUI-subsystem executables.
# Usage: check_windows_binaries.sh <x86_64|i686> <bin dir>
set -eu
arch=$1
bin=$2
objdump=$arch-w64-mingw32-objdump
fail() { echo "FAIL: $*"; exit 1; }

dll=$bin/SkinH_EL.dll
[ -f "$dll" ] || fail "$dll is missing"
exports=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && $NF != "Table" {print $NF}')
[ "$exports" = "SkinH_Attach_Ex" ] || fail "SkinH_EL.dll exports '$exports', want exactly SkinH_Attach_Ex"
if [ "$arch" = i686 ]; then
  $objdump -t "$dll" | grep -q '_SkinH_Attach_Ex@8$' || fail "SkinH_Attach_Ex is not a stdcall function of 8 argument bytes"
  $objdump -d --disassemble='_SkinH_Attach_Ex@8' "$dll" | grep -q 'ret  *\$0x8' || fail "SkinH_Attach_Ex does not pop its arguments"
fi

for file in "$bin"/*.exe "$bin"/*.dll; do
  [ -f "$file" ] || continue
  if $objdump -p "$file" | grep 'DLL Name:' | grep -qiE 'libstdc|libgcc|winpthread'; then
    fail "$(basename "$file") needs a toolchain DLL: $($objdump -p "$file" | grep 'DLL Name:' | tr -s ' \t' ' ')"
  fi
done

for program in updater.exe helpdesk.exe; do
  [ -f "$bin/$program" ] || { [ "$program" = helpdesk.exe ] && continue; fail "$program is missing"; }
  $objdump -p "$bin/$program" | grep -q 'Subsystem.*Windows GUI' || fail "$program is not a GUI program"
done
echo "ok: $arch binaries in $bin"
