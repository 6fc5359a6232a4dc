#!/bin/sh
# The Windows zip as a user gets it: built with CPack, holding only the
# stripped program of the tree's architecture (32-bit, or 64-bit in the
# windows64 tree) and its two texts with CRLF line ends; the program from the
# zip then goes through the end-to-end menu test on a Wine desktop.
#   zip_package_test.sh BUILD_DIR VERSION SOURCE_DIR E2E_TEST_PROGRAM POINTER_BYTES OBJDUMP
set -eu
build=$1
version=$2
source=$3
e2e=$4
pointer_bytes=$5
objdump=$6
fail() { echo "zip package: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }
name=gleamo-$version-win32
zip=$work/$name.zip
[ -f "$zip" ] || fail "no $name.zip made"

unzip -Z1 "$zip" | sort >"$work/listed"
printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/gleamo.exe" | sort >"$work/expected"
diff -u "$work/expected" "$work/listed" >&2 || fail "the zip holds other files than expected"

unzip -q "$zip" -d "$work"
exe=$work/$name/gleamo.exe
if [ "$pointer_bytes" = 8 ]; then
  file "$exe" | grep -q 'PE32+ executable (GUI) x86-64' || fail "gleamo.exe is no 64-bit Windows program: $(file "$exe")"
else
  file "$exe" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "gleamo.exe is no 32-bit Windows program: $(file "$exe")"
fi
if "$objdump" -h "$exe" | grep -q '\.debug'; then fail "gleamo.exe carries debug sections"; fi
"$objdump" -t "$exe" | grep -q '^\[' && fail "gleamo.exe carries a symbol table"
for text in LICENSE.txt README.txt; do
  awk '!/\r$/ { bare = 1 } END { exit bare }' "$work/$name/$text" || fail "$text has lines without CRLF"
done
grep -q 'shell:startup' "$work/$name/README.txt" || fail "README.txt does not say how to start at logon"
grep -q 'MIT License' "$work/$name/LICENSE.txt" || fail "LICENSE.txt is not the licence"

# Wine sees the file system through its Z: drive.
GLEAMO_E2E_PROGRAM="Z:$(printf '%s' "$exe" | tr / '\\')"
export GLEAMO_E2E_PROGRAM
"$source/scripts/with-wine-desktop.sh" --wine "$build/wine-run.sh" "$build/wine-run.sh" "$e2e" \
  --gtest_filter='GleamoMenu.*' || fail "gleamo.exe from the zip failed the menu test"
echo "zip package: $name.zip holds the stripped program and its texts; the program shows its icon and menu and ends"
