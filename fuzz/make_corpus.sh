#!/usr/bin/env bash
# Regenerates the seed corpus (fuzz/corpus) from small trees packed by mkpatch,
# plus a few cut and padded copies.
#   fuzz/make_corpus.sh build-pkg/bin/mkpatch
set -euo pipefail
mkpatch=$(realpath "${1:?usage: make_corpus.sh path/to/mkpatch}")
corpus=$(cd "$(dirname "$0")" && pwd)/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p one nested/a/b/c mixed/bin v2/a/b/c
printf 'hello\n' >one/readme.txt
printf 'deep' >nested/a/b/c/d.dat
printf 'top level\n' >nested/top.txt
: >mixed/empty
head -c 300 /dev/zero >mixed/bin/zeros
printf 'abcabcabcabcabcabcabc' >mixed/text
cp -r nested/. v2/
printf 'deeper' >v2/a/b/c/d.dat
printf 'new\n' >v2/a/new.txt

"$mkpatch" build one.dat one >/dev/null
"$mkpatch" build nested.dat nested >/dev/null
"$mkpatch" build mixed.dat mixed >/dev/null
"$mkpatch" diff diff.dat nested v2 >/dev/null 2>&1
for package in one nested mixed diff; do
  "$mkpatch" verify "$package.dat" >/dev/null
done

# found-* files are inputs a fuzzing run added (merged with -merge=1); they stay.
cp one.dat nested.dat mixed.dat diff.dat "$corpus"/
head -c 30 nested.dat >"$corpus/nested-cut.dat"
{ cat one.dat; printf 'trailing'; } >"$corpus/one-trailing.dat"
printf '\0\0\0\0' >"$corpus/empty.dat"
printf '\377\377\377\377' >"$corpus/negative.dat"
# Names the launcher refuses, spliced into a sound package (same lengths).
perl -0777 -pe 's/readme\.txt/..\\dme.txt/' one.dat >"$corpus/parent-name.dat"
perl -0777 -pe 's/readme\.txt/C:\\eme.txt/' one.dat >"$corpus/drive-name.dat"
perl -0777 -pe 's/a\\b\\c\\d\.dat/\\b\\c\\d.dat\0/' nested.dat >"$corpus/absolute-name.dat"
ls -l "$corpus"
