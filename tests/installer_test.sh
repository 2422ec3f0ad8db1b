#!/usr/bin/env bash
# installer_test.sh - the Windows installer, made with makensis from this
# build's programs and run under Wine in a scratch prefix of its own, as
# users run it: silently (/S), over an older version, with the PATH box
# (/AddToPath), twice into a chosen folder (/D=), for all users (/AllUsers),
# each time uninstalled silently. The installed quillaro-cli.exe must run;
# the registry entries must be those an installer of Windows programs
# makes, read back with reg, and no other key may name Quillaro; the
# uninstaller must take away every file and registry entry of Quillaro's
# and leave the user's own (a file in the folder, the PATH, the .swf
# entries of other programs) as they were. Prints the installed folder and
# the registry entries it read.
# Usage: installer_test.sh SOURCE_DIR QUILLARO_EXE CLI_EXE VERSION_H
# (in a scratch folder, which it fills).
set -u
source_dir=$1
quillaro=$2
cli=$3
version_h=$4
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
listing() {  # listing FILE: the file's lines, indented, after a line break
  echo
  sed 's/^/  /' "$1"
}

export WINEPREFIX=$PWD/wineprefix WINEDEBUG=-all
# winemenubuilder would copy the Start menu entry and the .swf association
# into the desktop menus of the machine, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wine=/usr/lib/wine/wine64
wineserver -k 2>/dev/null
rm -rf ./*
trap 'wineserver -k 2>/dev/null' EXIT

# The installer, from the programs and texts the zip holds.
version=$(sed -n 's/^#define QUILLARO_VERSION "\(.*\)"$/\1/p' "$version_h")
mkdir files
cp "$quillaro" "$cli" files/
for text in README.txt LICENCES.txt; do
  sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$source_dir/tools/release-files/$text" >"files/$text"
done
# And one of an older version, for the upgrade.
for made in "$version" 0.9.0; do
  makensis -V1 -WX -DVERSION="$made" -DFILES="$PWD/files" -DOUTDIR="$PWD" \
    "$source_dir/packaging/quillaro-setup.nsi" || exit 1
done
setup=$PWD/Quillaro-$version-win64-setup.exe
older_setup=$PWD/Quillaro-0.9.0-win64-setup.exe

"$wine" wineboot -i >/dev/null 2>&1
drive_c=$WINEPREFIX/drive_c
user=$(ls "$drive_c/users" | grep -v -x -e Public -e crossover | head -n 1)
classes='HKCU\Software\Classes'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillaro'

# reg_dump KEY...: the keys (without spaces) and their values, one
# "KEY\NAME TYPE DATA" line each (NAME (Default) for a key's own value);
# nothing for an absent key.
reg_dump() {
  local commands=() key
  for key in "$@"; do commands+=("reg query $key /s &"); done
  "$wine" cmd /c "${commands[*]} echo." 2>/dev/null | tr -d '\r' | awk '
    /^HKEY_/ { key = $0; sub(/^HKEY_CURRENT_USER/, "HKCU", key); next }
    /^    / { sub(/^    /, ""); split($0, part, "    ")
               print key "\\" part[1] " " part[2] " " substr($0, length(part[1] part[2]) + 9) }'
}

# expect_lines <description> <file> <line>...: each line is in the file.
expect_lines() {
  local description=$1 file=$2 line
  shift 2
  for line in "$@"; do
    grep -q -x -F -e "$line" "$file" || fail "$description: no \"$line\" in:$(listing "$file")"
  done
}

# registry_mentions: the registry keys that name Quillaro or hold a value
# that does, once wineserver has saved the registry.
registry_mentions() {
  wineserver -w
  (cd "$WINEPREFIX" && awk '/^\[/ { key = $0; sub(/\] [0-9]+$/, "]", key) }
    tolower($0) ~ /quillaro/ { print FILENAME " " key }' system.reg user.reg) | LC_ALL=C sort -u
}

# The user's own: a PATH with a variable in it, the default program of .swf
# and another program's "Open with" entry.
seed_path='C:\seed;%USERPROFILE%\bin'
# (reg itself, not cmd, which would expand the variable.)
"$wine" reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$seed_path" /f >/dev/null 2>&1
"$wine" reg add "$classes\\.swf" /ve /d ShockwaveFlash.ShockwaveFlash /f >/dev/null 2>&1
"$wine" reg add "$classes\\.swf\\OpenWithProgids" /v Other.swf /d "" /f >/dev/null 2>&1

# An older version installed into the default folder with the PATH box,
# then upgraded silently (which keeps the box as it was).
"$wine" "$older_setup" /S /AddToPath || fail "the older version's install exited with $?"
"$wine" "$setup" /S || fail "the upgrade exited with $?"
folder=$drive_c/users/$user/AppData/Local/Programs/Quillaro
windows_folder="C:\\users\\$user\\AppData\\Local\\Programs\\Quillaro"
echo "Installed into $windows_folder:"
(cd "$folder" && ls -l --time-style=+ | tail -n +2 | awk '{print "  " $5 "\t" $6}')
[ "$(ls "$folder")" = "$(printf '%s\n' LICENCES.txt Quillaro.exe README.txt quillaro-cli.exe uninstall.exe)" ] ||
  fail "the installed folder holds: $(ls "$folder")"
[ -f "$drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillaro.lnk" ] ||
  fail "no Start menu entry"
said=$("$wine" "$windows_folder\\quillaro-cli.exe" --version 2>&1 | tr -d '\r')
[ "$said" = "quillaro-cli $version" ] || fail "the installed quillaro-cli.exe --version said: $said"

reg_dump "$uninstall_key" "$classes\\Quillaro.swf" "$classes\\.swf" 'HKCU\Environment' >installed.txt
echo "Registry after the upgrade:"
sed 's/^/  /' installed.txt
expect_lines "the registry after installing" installed.txt \
  "$uninstall_key\\DisplayName REG_SZ Quillaro" \
  "$uninstall_key\\DisplayVersion REG_SZ $version" \
  "$uninstall_key\\Publisher REG_SZ Quillaro maintainers" \
  "$uninstall_key\\DisplayIcon REG_SZ $windows_folder\\Quillaro.exe,0" \
  "$uninstall_key\\UninstallString REG_SZ \"$windows_folder\\uninstall.exe\"" \
  "$uninstall_key\\QuietUninstallString REG_SZ \"$windows_folder\\uninstall.exe\" /S" \
  "$uninstall_key\\InstallLocation REG_SZ $windows_folder" \
  "$classes\\Quillaro.swf\\shell\\open\\command\\(Default) REG_SZ \"$windows_folder\\Quillaro.exe\" \"%1\"" \
  "$classes\\.swf\\OpenWithProgids\\Quillaro.swf REG_NONE " \
  "$classes\\.swf\\OpenWithProgids\\Other.swf REG_SZ " \
  "$classes\\.swf\\(Default) REG_SZ ShockwaveFlash.ShockwaveFlash" \
  "HKCU\\Environment\\Path REG_EXPAND_SZ $seed_path;$windows_folder"
grep -q '\\EstimatedSize REG_DWORD 0x[1-9a-f]' installed.txt || fail "no EstimatedSize"
# Nothing of .exe, nor any key but these, names Quillaro.
registry_mentions >mentions.txt
expected_mentions='user.reg [Environment]
user.reg [Software\\Classes\\.swf\\OpenWithProgids]
user.reg [Software\\Classes\\Quillaro.swf\\DefaultIcon]
user.reg [Software\\Classes\\Quillaro.swf\\shell\\open\\command]
user.reg [Software\\Classes\\Quillaro.swf]
user.reg [Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillaro]'
[ "$(cat mentions.txt)" = "$expected_mentions" ] || fail "keys that name Quillaro:$(listing mentions.txt)"

# Uninstalled: the user's file and entries stay, nothing of Quillaro's does.
echo "the user's own" >"$folder/notes.txt"
"$wine" "$windows_folder\\uninstall.exe" /S || fail "the uninstaller exited with $?"
registry_mentions >mentions.txt
[ -s mentions.txt ] && fail "after uninstalling, keys still name Quillaro:$(listing mentions.txt)"
[ "$(ls "$folder")" = notes.txt ] || fail "after uninstalling, the folder holds: $(ls "$folder")"
left=$(find "$drive_c" -iname '*quillaro*' ! -path "$folder")
[ -z "$left" ] || fail "files left: $left"
reg_dump "$classes\\.swf" 'HKCU\Environment' >uninstalled.txt
expect_lines "the user's registry entries after uninstalling" uninstalled.txt \
  "$classes\\.swf\\OpenWithProgids\\Other.swf REG_SZ " \
  "$classes\\.swf\\(Default) REG_SZ ShockwaveFlash.ShockwaveFlash" \
  "HKCU\\Environment\\Path REG_EXPAND_SZ $seed_path"
rm -r "$folder"  # the user's file

# The same version installed twice into a folder with a space in its name,
# without any entry of the user's; a PATH too long for the installer's
# strings stays whole.
long_path="C:\\long$(printf ';C:\\folder%04d' $(seq 1 120))"
"$wine" reg delete "$classes\\.swf" /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Environment' /v Path /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null 2>&1
# Through cmd, which passes the command line on as typed: Wine would quote
# an argument with a space, and /D= must be the last word, unquoted.
cp "$setup" "$drive_c/setup.exe"
for round in first second; do
  "$wine" cmd /c 'C:\setup.exe /S /AddToPath /D=C:\Chosen folder\Quillaro' ||
    fail "the $round install into /D= exited with $?"
done
folder="$drive_c/Chosen folder/Quillaro"
[ -f "$folder/quillaro-cli.exe" ] || fail "nothing installed into the folder of /D="
reg_dump "$uninstall_key" 'HKCU\Environment' >installed.txt
expect_lines "the registry after installing into /D=" installed.txt \
  "$uninstall_key\\InstallLocation REG_SZ C:\\Chosen folder\\Quillaro" \
  "HKCU\\Environment\\Path REG_EXPAND_SZ $long_path"
"$wine" 'C:\Chosen folder\Quillaro\uninstall.exe' /S || fail "the uninstaller exited with $?"
registry_mentions >mentions.txt
[ -s mentions.txt ] && fail "after uninstalling from /D=, keys still name Quillaro:$(listing mentions.txt)"
[ -e "$folder" ] && fail "after uninstalling, the folder of /D= is left: $(ls -A "$folder")"
reg_dump "$classes\\.swf" 'HKCU\Environment' | grep -v -e '\\TEMP ' -e '\\TMP ' >uninstalled.txt
[ "$(cat uninstalled.txt)" = "HKCU\\Environment\\Path REG_EXPAND_SZ $long_path" ] ||
  fail "after uninstalling from /D=, the .swf and PATH entries are:$(listing uninstalled.txt)"

# For all users (Wine runs programs as an administrator): the machine's
# registry and Program Files, and the uninstaller finds it is that install.
"$wine" "$setup" /S /AllUsers || fail "the install for all users exited with $?"
folder="$drive_c/Program Files/Quillaro"
[ -f "$folder/Quillaro.exe" ] || fail "nothing installed into Program Files"
[ -f "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillaro.lnk" ] ||
  fail "no Start menu entry for all users"
registry_mentions >mentions.txt
[ "$(cat mentions.txt)" = "$(echo "$expected_mentions" | grep -v Environment | sed 's/^user/system/')" ] ||
  fail "for all users, keys that name Quillaro:$(listing mentions.txt)"
"$wine" 'C:\Program Files\Quillaro\uninstall.exe' /S || fail "the uninstaller exited with $?"
registry_mentions >mentions.txt
[ -s mentions.txt ] && fail "after uninstalling for all users, keys still name Quillaro:$(listing mentions.txt)"
left=$(find "$drive_c" -iname '*quillaro*')
[ -z "$left" ] || fail "files left after uninstalling for all users: $left"

wineserver -k 2>/dev/null
if [ $failures -eq 0 ]; then
  rm -rf "$WINEPREFIX"  # 700 MB; a failed run keeps it for a look
  echo "the installer installs, upgrades and uninstalls cleanly"
fi
[ $failures -eq 0 ]
