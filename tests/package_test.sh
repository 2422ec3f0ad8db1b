#!/usr/bin/env bash
# package_test.sh - makes the Debian package of quillaro-cli from the build,
# unpacks it into a scratch root as dpkg would install it, and runs what it
# installed: the program (--version, info on a compressed movie of the
# corpus), the manual page (rendered without a warning) and the bash
# completion (loads without errors, completes from the program's help).
# Usage: package_test.sh BUILD_DIR CORPUS_DIR (in a scratch folder)
set -u
build=$1
corpus=$2
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

rm -rf root package.log
# Packages of earlier versions made in this build folder are not this one.
rm -f "$build"/package/quillaro-cli_*.deb
cpack --config "$build/CPackConfig.cmake" >package.log 2>&1 || { cat package.log; exit 1; }
deb=$(ls "$build"/package/quillaro-cli_*.deb)
dpkg-deb -x "$deb" root || exit 1
program=root/usr/bin/quillaro-cli

version=$(dpkg-deb -f "$deb" Version)
[ "$("$program" --version)" = "quillaro-cli $version" ] ||
  fail "--version says \"$("$program" --version)\", the package is $version"
for field in Depends Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" $field)" ] || fail "the package has no $field"
done
dpkg-deb -f "$deb" Depends | grep -q zlib1g || fail "the dependencies do not name zlib1g"

# A zlib-compressed movie of the corpus, and what its manifest says of it.
if [ -f "$corpus/manifest.tsv" ]; then
  IFS=$'\t' read -r file _ signature version _ < <(awk -F'\t' '$3 == "CWS"' "$corpus/manifest.tsv" | head -n 1)
  facts=$("$program" info --json "$corpus/$file")
  case $facts in
    *"\"signature\":\"$signature\",\"version\":$version,"*) ;;
    *) fail "info on $file: $facts" ;;
  esac
else
  echo "no corpus at $corpus: info on a corpus movie skipped"
fi

page=root/usr/share/man/man1/quillaro-cli.1.gz
warnings=$(zcat "$page" | groff -man -ww -z -Tutf8 2>&1)
[ -z "$warnings" ] || fail "the manual page: $warnings"
for word in info save extract-player extract-movie --out-dir --force "EXIT STATUS" EXAMPLES; do
  zcat "$page" | sed 's/\\-/-/g' | grep -q -F -e "$word" || fail "the manual page does not mention $word"
done

completion=root/usr/share/bash-completion/completions/quillaro-cli
errors=$(PATH="$PWD/root/usr/bin:$PATH" bash -c '
  source "$1" || exit 1
  complete -p quillaro-cli >/dev/null || exit 1
  check() {  # check <expected reply> <words>...
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _quillaro_cli
    [ "${COMPREPLY[*]}" = "$expected" ] || echo "completing \"$*\" gave \"${COMPREPLY[*]}\", not \"$expected\""
  }
  check "extract-player extract-movie" quillaro-cli ex
  check "--json --jobs" quillaro-cli info --j
  check "--recursive" quillaro-cli check --rec
  check "decompress" quillaro-cli save a.swf --movie d
  check "replace=" quillaro-cli save a.swf --player rep
' completion "$completion" 2>&1)
[ -z "$errors" ] || fail "the bash completion: $errors"

[ $failures -eq 0 ] && echo "the package $(basename "$deb") installs and runs"
[ $failures -eq 0 ]
