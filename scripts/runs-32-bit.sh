#!/usr/bin/env bash
# Succeeds when this host runs 32-bit x86 programs, as 32-bit Wine needs;
# some 64-bit kernels run 64-bit code only (their execve of an i386 program
# fails with ENOEXEC). Tries the smallest i386 program there is: exit(0).
#   scripts/runs-32-bit.sh && echo yes
set -u

# In the build folder: /tmp may be mounted without execute permission.
cd "$(dirname "$0")/.." && mkdir -p build || exit 1
probe=$(mktemp build/.i386-probe.XXXXXX) || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000 covering the 93-byte file,
# then: mov eax, 1; xor ebx, ebx; int 0x80.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
printf '\270\001\000\000\000\061\333\315\200' >>"$probe"
chmod +x "$probe"
"./$probe" 2>/dev/null
