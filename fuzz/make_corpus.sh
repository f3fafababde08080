#!/usr/bin/env bash
# Rebuilds the seed corpus of the image reader's fuzz target: small images made by
# xorriso and genisoimage (plain, bootable, nested, a directory over several blocks, Joliet
# names and a hidden file).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p corpus "$work/t/I386/SYSTEM32" "$work/t/PROGRAMS/B" "$work/m"
printf '[WinPE.Net]\r\nStartNet=Yes\r\n' >"$work/t/WINBOM.INI"
head -c 2049 /dev/urandom >"$work/t/BLOCK.BIN"
: >"$work/t/EMPTY.TXT"
printf 'x' >"$work/t/I386/SYSTEM32/DEFAULT"
printf 'y' >"$work/t/PROGRAMS/B/B.DLL"
head -c 2048 /dev/zero >"$work/t/boot.bin"
for i in $(seq 1 60); do printf "$i" >"$work/m/FILE_NUMBER_$i.DAT"; done
mk="xorriso -as mkisofs -quiet -untranslated-filenames -iso-level 3 -no-pad"
$mk -o corpus/plain.iso "$work/t"
$mk -o corpus/boot.iso -b boot.bin -no-emul-boot -boot-load-size 4 -c boot.cat "$work/t"
$mk -o corpus/many.iso "$work/m"
genisoimage -quiet -untranslated-filenames -iso-level 4 -no-pad -o corpus/geniso.iso \
  -b boot.bin -no-emul-boot -boot-load-size 4 -c boot.cat "$work/t"
printf 'z' >"$work/t/PROGRAMS/A long Joliet name.txt"
genisoimage -quiet -J -untranslated-filenames -no-pad -hidden EMPTY.TXT -o corpus/joliet.iso \
  "$work/t"
ls -l corpus
