#!/bin/sh
# cli_driver.sh - runs the quillaro-cli program itself, as a user would:
# its exit codes, results on standard output and errors on standard error,
# and on a terminal the progress bar.
# Usage: cli_driver.sh FIXTURE_DIR PROGRAM [RUNNER]
# RUNNER (Wine, for the Windows build) runs PROGRAM when given.
set -u
fixtures=$1
program=$2
runner=${3:-}
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

rm -rf ./*  # the scratch folder of this driver, from an earlier run
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

# File names in every script, and a path of more than 300 characters
# (longer than Windows' MAX_PATH): inspected, saved into and extracted
# from, and named exactly in results and errors.
long=$(printf 'f%.0s' $(seq 120))/$(printf 'g%.0s' $(seq 120))/ゲーム
mkdir -p "$long"
cp movie.swf "ゲーム.swf"
cp movie.swf "Игра.swf"
cp game.exe "🎮 game.exe"
cp movie.swf "$long/長いパスのムービー.swf"
cli info "ゲーム.swf" "Игра.swf" "🎮 game.exe" "$long/長いパスのムービー.swf" "Жук.swf"
expect "info on names in every script" 1 $?
for name in "ゲーム.swf: bare Flash movie" "Игра.swf: bare Flash movie" "🎮 game.exe: projector" \
  "$long/長いパスのムービー.swf: bare Flash movie"; do
  expect_text "info on names in every script" stdout.txt "$name"
done
expect_text "an error about a Cyrillic name" stderr.txt "Жук.swf: no such file"
cli save "ゲーム.swf" "Игра.swf" "$long/長いパスのムービー.swf" --out-dir "$long/出力" --movie compress
expect "save into a long path" 0 $?
for name in ゲーム Игра 長いパスのムービー; do
  [ "$(head -c 3 "$long/出力/$name.swf" 2>/dev/null)" = CWS ] ||
    { echo "FAILED: $long/出力/$name.swf was not saved compressed"; failures=$((failures + 1)); }
done
cli extract-movie "🎮 game.exe" "$long/🎮 movie.swf"
expect "extract-movie into a long path" 0 $?
cmp -s movie.swf "$long/🎮 movie.swf" || { echo "FAILED: the extracted movie differs"; failures=$((failures + 1)); }
cli extract-player "$long/../../../🎮 game.exe" "$long/プレーヤー.exe"
expect "extract-player from a long, winding path" 0 $?
cmp -s player.exe "$long/プレーヤー.exe" || { echo "FAILED: the extracted player differs"; failures=$((failures + 1)); }

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
fi

[ "$failures" = 0 ] && echo "all checks passed"
[ "$failures" = 0 ]
