#!/usr/bin/env bash
# The launcher must be one file: it may import Windows system DLLs only, and
# not user32, gdi32 or shell32: each costs every start time and memory, and
# a console process with user32 loaded gets no logoff or shutdown event.
set -eu
exe=$1
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
bad=$(echo "$dlls" | grep -v -i -E '^(kernel32|advapi32|msvcrt|ws2_32|ntdll)\.dll$' || true)
if [ -n "$bad" ]; then
  echo "$exe imports non-system DLLs: $bad" >&2
  exit 1
fi
echo "$exe imports only: $(echo $dlls)"
