#!/bin/sh
# Checks a Windows binary with objdump -p:
#   check-pe.sh OBJDUMP FILE            PE32 for i386, importing system DLLs only
#   check-pe.sh OBJDUMP FILE exports    the same, and the export table of the
#                                       module: exactly its six names, ordinals 1 to 6
set -u
objdump=$1
file=$2
dump=$("$objdump" -p "$file") || { echo "objdump failed on $file"; exit 1; }
fail=0

echo "$dump" | grep -q "file format pei-i386" || { echo "$file: not a pei-i386 file"; fail=1; }
echo "$dump" | grep -Eq "^Magic[[:space:]]+010b[[:space:]]+\(PE32\)" || { echo "$file: not PE32"; fail=1; }

# Only DLLs that every Windows installation has; a runtime or zlib DLL here
# means something was linked dynamically.
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|shell32.dll|ntdll.dll|ws2_32.dll) ;;
    *) echo "$file: imports $dll, which is not a system DLL"; fail=1 ;;
  esac
done
echo "$file: $(stat -c %s "$file") bytes, imports:" $imports

if [ "${3:-}" = exports ]; then
  base=$(echo "$dump" | sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p')
  addresses=$(echo "$dump" | sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' | grep -c 'Export RVA')
  # "[Ordinal/Name Pointer] Table" lines are "[index] name"; ordinal = base + index.
  exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\2 \1/p' |
            while read -r name index; do echo "$name $((base + index))"; done | sort -k2n)
  expected="IsArchive 1
OpenArchive 2
GetArcItem 3
CloseArchive 4
GetFormatName 5
GetDefaultCommands 6"
  if [ "$exports" != "$expected" ] || [ "$addresses" != 6 ]; then
    echo "$file: exports (name ordinal), $addresses addresses:"
    echo "$exports"
    echo "expected exactly:"
    echo "$expected"
    fail=1
  else
    echo "$file: exports" $exports
  fi
fi
exit $fail
