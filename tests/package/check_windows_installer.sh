#!/usr/bin/env bash
# Installs the Windows setup program silently under Wine, checks what landed
# (the programs, the Start-menu shortcuts, the uninstaller and its entry in
# Apps & features, a program that runs), uninstalls it and checks that all
# of it went. An installer's exit status alone proves nothing (a 32-bit
# stub under a 64-bit-only Wine installs nothing and says 0), so every
# check looks at the files and the registry.
#   tests/package/check_windows_installer.sh SETUP.exe
# WINEPREFIX and a warm wineserver as scripts/windows-test.sh leaves them.
set -euo pipefail
setup=$1
# No menu entries on this machine for the shortcuts the installer makes.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "windows installer: $*" >&2
    failures=$((failures + 1))
}

folder="$WINEPREFIX/drive_c/Program Files/Velmora ISP2"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora ISP2"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraIsp2'
# Wine's output goes to files: a pipe would be held open by its desktop.
registered() {
    timeout 60 wine reg query "$key" /v DisplayName </dev/null >"$work/reg.txt" 2>&1 &&
        grep -q 'Velmora ISP2' "$work/reg.txt"
}

timeout 300 wine "$setup" /S </dev/null >"$work/setup.txt" 2>&1 || fail "the setup program failed ($?)"
for file in velmora-isp2.exe velmora-isp2-cli.exe uninstall.exe QUICKSTART.txt LICENSE.txt README.md; do
    [ -f "$folder/$file" ] || fail "not installed: Program Files/Velmora ISP2/$file"
done
for link in "Velmora ISP2.lnk" "Velmora ISP2 command line.lnk" "Quick start.lnk"; do
    [ -f "$menu/$link" ] || fail "no Start-menu shortcut $link"
done
registered || fail "no entry in Apps & features"
timeout 60 wine "$folder/velmora-isp2-cli.exe" --version </dev/null >"$work/version.txt" 2>&1 || true
grep -q "velmora-isp2-cli" "$work/version.txt" || fail "the installed command line does not run: $(cat "$work/version.txt")"

# The uninstaller copies itself away and goes on from there: wait for its
# work, not for its exit.
timeout 60 wine "$folder/uninstall.exe" /S </dev/null >"$work/uninstall.txt" 2>&1 || true
for _ in $(seq 600); do
    [ -e "$folder" ] || break
    sleep 0.1
done
[ ! -e "$folder" ] || fail "left after uninstalling: $(ls "$folder" | tr '\n' ' ')"
[ ! -e "$menu" ] || fail "Start-menu folder left after uninstalling"
if registered; then fail "Apps & features entry left after uninstalling"; fi

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "windows installer: installed, checked and uninstalled $(basename "$setup")"
