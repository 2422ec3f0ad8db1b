#!/usr/bin/env bash
# e2e_quillaro.sh - the real Quillaro.exe under Wine, started as a user
# starts it: with a projector, with two files, with a file that is no
# movie. e2e_dialog_probe reads what the window shows and closes it; the
# program must then exit with code 0. Runs in a virtual X display when
# there is no display.
# Usage: e2e_quillaro.sh WINE QUILLARO_EXE PROBE_EXE SAMPLE_PROJECTOR
# (in a scratch folder, which it fills).
set -u
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a bash "$0" "$@"
fi
wine=$1
quillaro=$2
probe=$3
sample=$4
failures=0

# The Windows name of a Linux path: Wine shows the Unix root as drive Z:.
windows_path() {
  local path
  path=$(realpath -m "$1")
  echo "Z:${path//\//\\}"
}

# check <description> <expected probe output> <argument>...: starts
# Quillaro with the arguments, lets the probe read and close its window,
# and compares what the probe saw and Quillaro's exit code.
check() {
  local description=$1 expected=$2
  shift 2
  "$wine" "$quillaro" "$@" &
  local program=$!
  local seen
  seen=$("$wine" "$probe" 2>&1 | tr -d '\r')
  local waited=0
  while kill -0 "$program" 2>/dev/null && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$program" 2>/dev/null; then
    echo "FAILED: $description: Quillaro.exe did not exit after the window was closed"
    kill "$program"
    failures=$((failures + 1))
  else
    local code=0
    wait "$program" || code=$?
    if [ $code -ne 0 ]; then
      echo "FAILED: $description: Quillaro.exe exited with $code"
      failures=$((failures + 1))
    fi
  fi
  if [ "$seen" != "$expected" ]; then
    echo "FAILED: $description: the window showed"
    echo "$seen" | sed 's/^/  /'
    echo "expected"
    echo "$expected" | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}

# A relative name with spaces: the program makes it a full path and the
# command line keeps it one argument.
mkdir -p "my games"
cp "$sample" "my games/sample game.exe"
check "a projector named on the command line" \
  "movie path: $(windows_path "my games/sample game.exe")" \
  "my games/sample game.exe"

check "two files named on the command line" \
  "movie path: " \
  "my games/sample game.exe" "my games/sample game.exe"

# Names in every script, and a path longer than MAX_PATH: the window shows
# them as they are.
cp "$sample" "ゲーム Игра 🎮.exe"
check "a projector named in three scripts" \
  "movie path: $(windows_path "ゲーム Игра 🎮.exe")" \
  "ゲーム Игра 🎮.exe"
long=$(printf 'f%.0s' $(seq 120))/$(printf 'g%.0s' $(seq 120))
mkdir -p "$long"
cp "$sample" "$long/長いパスのゲーム.exe"
check "a projector at the end of a path of over 300 characters" \
  "movie path: $(windows_path "$long/長いパスのゲーム.exe")" \
  "$(windows_path "$long/長いパスのゲーム.exe")"

echo "not a movie" >notes.txt
check "a text file named on the command line" \
  "message: This file not a Flash file or missing Flash movie overlay in Flash Player Projector.
movie path: " \
  "$(windows_path notes.txt)"

[ $failures -eq 0 ] || exit 1
echo "Quillaro.exe showed and closed its window as expected 5 times"
