#!/bin/sh
# cli_driver.sh - runs the quillaro-cli program itself, as a user would:
# its exit codes, results on standard output and errors on standard error,
# and on a terminal the progress bar.
# Usage: cli_driver.sh FIXTURE_DIR PROGRAM [RUNNER [CORPUS_DIR]]
# RUNNER (Wine, for the Windows build) runs PROGRAM when given (may be "").
# CORPUS_DIR, when it holds the real movies, adds checks on a few of them.
set -u
fixtures=$1
program=$2
runner=${3:-}
corpus=${4:-}
failures=0

cli() {
  $runner "$program" "$@" >stdout.txt 2>stderr.txt
}

# expect <description> <expected exit code> <actual exit code>
expect() {
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1: exit $3, expected $2"
    sed 's/^/  stdout: /' stdout.txt
    sed 's/^/  stderr: /' stderr.txt
    failures=$((failures + 1))
  fi
}

# expect_text <description> <file> <text>
expect_text() {
  if ! grep -q -F -e "$3" "$2"; then
    echo "FAILED: $1: \"$3\" not in $2:"
    cat "$2"
    failures=$((failures + 1))
  fi
}

# le32 <number>: the number as 4 bytes, little-endian.
le32() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# movie <version> <body bytes>: an uncompressed movie of zero bytes.
movie() {
  printf 'FWS'
  printf "$(printf '\\%03o' "$1")"
  le32 $(($2 + 8))
  head -c "$2" /dev/zero
}

# movie_of <version> <file>: an uncompressed movie whose body is the file.
movie_of() {
  size=$(wc -c <"$2")
  printf 'FWS'
  printf "$(printf '\\%03o' "$1")"
  le32 $((size + 8))
  cat "$2"
}

# no_temporary_files <description>: fails when a temporary file is left.
no_temporary_files() {
  if ls -a | grep -q -e '^\.quillaro-' -e '^qlr.*\.tmp$'; then
    echo "FAILED: $1: a temporary file was left:"
    ls -a
    failures=$((failures + 1))
  fi
}

rm -rf ./* ./.quillaro-*  # the scratch folder of this driver, from an earlier run
cp "$fixtures/player-10.0.exe" player.exe

cli --version
expect "--version" 0 $?
expect_text "--version" stdout.txt "quillaro-cli "

movie 13 100 >movie.swf
cli save movie.swf out.swf --movie compress
expect "save --movie compress" 0 $?
[ "$(head -c 3 out.swf)" = CWS ] || { echo "FAILED: out.swf is not compressed"; failures=$((failures + 1)); }

cli save movie.swf out.swf --movie compress
expect "save over an existing output" 1 $?
expect_text "existing output" stderr.txt "out.swf: already exists"
[ -s stdout.txt ] && { echo "FAILED: an error went to standard output"; failures=$((failures + 1)); }

cli save movie.swf nothing.swf
expect "save with both kept" 2 $?
[ -e nothing.swf ] && { echo "FAILED: a usage error wrote a file"; failures=$((failures + 1)); }

{ cat player.exe movie.swf; le32 $((0xFA123456)); le32 108; } >game.exe
cli info --json game.exe
expect "info --json" 0 $?
expect_text "info --json" stdout.txt '"kind":"projector"'
expect_text "info --json" stdout.txt '"player_version":"10.0"'

cli save game.exe game2.exe --movie compress
expect "save with a player older than the movie needs" 3 $?
expect_text "version refusal" stderr.txt "needs Flash Player 11.0 or newer"

cli info missing.swf game.exe
expect "info with a missing file" 1 $?
expect_text "info" stdout.txt "player version     10.0"
expect_text "info" stderr.txt "missing.swf: no such file"

# Windows shells pass wildcards on; the program expands them itself.
if [ -n "$runner" ]; then
  cli info 'g*.exe' 'm*.swf'
  expect "info with wildcards" 0 $?
  expect_text "wildcards" stdout.txt "game.exe: projector"
  expect_text "wildcards" stdout.txt "movie.swf: bare Flash movie"
fi

# Two saves race for one new name: exactly one wins, the other reports
# that the name exists, and the winner's file is whole.
seq 1 300000 >race-body.txt
movie_of 10 race-body.txt >race-in.swf
cli save race-in.swf race-expected.swf --movie compress
expect "save the race's expected output" 0 $?
for round in 1 2 3 4 5; do
  rm -f race.swf
  $runner "$program" save race-in.swf race.swf --movie compress 2>race-a.txt & first=$!
  $runner "$program" save race-in.swf race.swf --movie compress 2>race-b.txt & second=$!
  wait $first; first=$?
  wait $second; second=$?
  if [ "$((first + second))" != 1 ] || [ "$((first * second))" != 0 ]; then
    echo "FAILED: race round $round: exit codes $first and $second, expected 0 and 1"
    cat race-a.txt race-b.txt
    failures=$((failures + 1))
  fi
  cat race-a.txt race-b.txt >stderr.txt
  expect_text "race round $round" stderr.txt "race.swf: already exists"
  cmp -s race.swf race-expected.swf || { echo "FAILED: race round $round: output differs"; failures=$((failures + 1)); }
  no_temporary_files "race round $round"
done

# Ended by a signal while converting: the temporary file goes, nothing is
# written, and the shell sees the signal.
if [ -z "$runner" ]; then
  seq 1 4000000 >slow-body.txt
  movie_of 10 slow-body.txt >slow.swf
  "$program" save slow.swf slow.cws --movie compress 2>stderr.txt & pid=$!
  tries=0
  # Writing: its output is open, unnamed ("#inode" in /proc) or named.
  while ! { ls -a | grep -q '^\.quillaro-' || ls -l /proc/$pid/fd 2>/dev/null | grep -q "$PWD/#"; } &&
    [ $tries -lt 200 ]; do
    sleep 0.05
    tries=$((tries + 1))
  done
  kill -TERM $pid
  wait $pid
  expect "save ended by SIGTERM" 143 $?
  [ -e slow.cws ] && { echo "FAILED: an output after SIGTERM"; failures=$((failures + 1)); }
  no_temporary_files "save ended by SIGTERM"
fi

# A named pipe is refused at once by every command that reads, never read
# or waited on (a pipe without a writer would block for ever).
if [ -z "$runner" ]; then
  rm -f pipe.swf
  mkfifo pipe.swf
  for command in info check scan "save --movie compress" "extract-movie --at 0"; do
    timeout 10 "$program" $command pipe.swf pipe-out.swf >stdout.txt 2>stderr.txt
    expect "$command on a named pipe" 1 $?
    expect_text "$command on a named pipe" stderr.txt "pipe.swf: is a named pipe, a device or a socket"
  done
  rm -f pipe.swf
fi

# LZMA both ways, the check, and a salvage. The body is a piece of the
# program itself, so that it does not compress to nothing.
{ printf 'FWS\015'; le32 60008; head -c 60000 "$program"; } >v13.swf
cli save v13.swf v13-z.swf --movie lzma
expect "save --movie lzma" 0 $?
[ "$(head -c 3 v13-z.swf)" = ZWS ] || { echo "FAILED: v13-z.swf is not LZMA"; failures=$((failures + 1)); }
cli save v13-z.swf v13-back.swf --movie decompress
expect "save an LZMA movie --movie decompress" 0 $?
cmp -s v13.swf v13-back.swf || { echo "FAILED: LZMA round trip differs"; failures=$((failures + 1)); }
cli check v13-z.swf v13.swf
expect "check intact movies" 0 $?
expect_text "check" stdout.txt "v13-z.swf: intact (ZWS, 60008 bytes)"
head -c $(($(wc -c <v13-z.swf) / 2)) v13-z.swf >cut.swf
cli check --json cut.swf
expect "check a cut LZMA movie" 1 $?
expect_text "check --json" stdout.txt '"status":"damaged","signature":"ZWS"'
cli save cut.swf cut-out.swf --movie decompress
expect "save a damaged movie" 1 $?
[ -e cut-out.swf ] && { echo "FAILED: a damaged movie was written"; failures=$((failures + 1)); }
cli save cut.swf cut-out.swf --movie decompress --salvage
expect "save --salvage" 4 $?
expect_text "salvage" stderr.txt "declared bytes into cut-out.swf"
movie 12 100 >v12.swf
cli save v12.swf v12-z.swf --movie lzma
expect "--movie lzma on version 12" 1 $?
expect_text "version refusal" stderr.txt "cannot be LZMA-compressed"

# Real LZMA movies: decoded to their uncompressed form, as the manifest says.
if [ -n "$corpus" ] && [ -f "$corpus/manifest.tsv" ]; then
  for name in ruffle-avm2-rng ruffle-avm2-loader_loadbytes_invalid_png jpexs-amf3-AmfTest; do
    cli save "$corpus/swf/$name.swf" "$name-fws.swf" --movie decompress
    expect "decompress $name" 0 $?
    want=$(grep "^swf/$name.swf	" "$corpus/manifest.tsv" | cut -f 11)
    got=$(sha256sum "$name-fws.swf" | cut -d ' ' -f 1)
    [ "$want" = "$got" ] || { echo "FAILED: $name decompressed differs"; failures=$((failures + 1)); }
  done
fi

# The bar needs a terminal: script(1) gives the program one.
if [ -z "$runner" ] && command -v script >/dev/null 2>&1; then
  movie 10 3000000 >big.swf
  cli save big.swf big.cws --movie compress
  expect "save a large movie without a terminal" 0 $?
  [ -s stderr.txt ] && { echo "FAILED: a bar without a terminal"; failures=$((failures + 1)); }
  script -qec "\"$program\" save big.cws big-again.swf --movie decompress" /dev/null >terminal.txt
  expect "save on a terminal" 0 $?
  expect_text "progress bar" terminal.txt "big.cws  [#"
  expect_text "progress bar" terminal.txt "100%"
  cmp -s big.swf big-again.swf || { echo "FAILED: round trip differs"; failures=$((failures + 1)); }
  # Movies of 1 MiB or more show the bar, smaller ones do not.
  movie 10 1048568 >edge.swf
  script -qec "\"$program\" save edge.swf edge.cws --movie compress" /dev/null >terminal.txt
  expect_text "a bar from 1 MiB" terminal.txt "edge.swf  ["
  movie 10 1048567 >under.swf
  script -qec "\"$program\" save under.swf under.cws --movie compress" /dev/null >terminal.txt
  grep -q -F "under.swf  [" terminal.txt && { echo "FAILED: a bar under 1 MiB"; failures=$((failures + 1)); }
fi

[ "$failures" = 0 ] && echo "all checks passed"
[ "$failures" = 0 ]
