#!/bin/sh
# Fails, naming each one, when a program imports a library outside the list given: a library in
# the import table is loaded before the program's first line runs, and only those that Windows
# always takes from its own folder are safe to load that way.
# Usage: import_table.sh PROGRAM LIBRARY...   (library names without ".dll", lower case)
program="$1"
shift
imports=$(i686-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
if [ -z "$imports" ]; then
    echo "no import table read from $program"
    exit 1
fi
status=0
for library in $imports; do
    allowed=0
    for name in "$@"; do
        [ "$library" = "$name.dll" ] && allowed=1
    done
    if [ "$allowed" -eq 0 ]; then
        echo "$program imports $library"
        status=1
    fi
done
exit "$status"
