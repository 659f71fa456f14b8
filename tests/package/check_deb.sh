#!/usr/bin/env bash
# Builds the Debian package of a build folder (cpack -G DEB) into a
# temporary folder and checks what a user gets from it: the control fields
# (Depends on Debian's Qt 6 runtime among them), exactly the files the
# install rules promise, a program whose libraries all resolve, icons of the
# sizes their folders claim (the 32-pixel one the main window's own), a
# desktop entry that desktop-file-validate accepts and that names the
# installed program and icon, AppStream metadata that appstreamcli accepts,
# manual pages and a changelog for this version, programs hardened as
# Debian hardens its own, and no error or warning from lintian.
#   check_deb.sh BUILD_FOLDER SOURCE_FOLDER
set -euo pipefail

build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
shopt -s nullglob
debs=("$work"/out/velmora-isp2_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one velmora-isp2_*.deb, found ${#debs[@]}"
    ls -l "$work/out"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"
dpkg-deb --info "$deb"

# --- control fields ---
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = velmora-isp2 ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = electronics ] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'name <address>'"
description=$(field Description)
[ "$(printf '%s\n' "$description" | wc -l)" -ge 2 ] || fail "Description has no extended part"
if printf '%s\n' "$description" | awk 'length > 80 { found = 1 } END { exit !found }'; then
    fail "a Description line is longer than 80 characters"
fi

# The names of the packages in Depends, without versions or alternatives.
depends=$(field Depends | tr ',|' '\n\n' | sed -e 's/(.*)//' -e 's/[[:space:]]//g' -e '/^$/d' | sort -u)
echo "depends on: $(echo $depends)"
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libudev1; do
    grep -qx "$package" <<<"$depends" || fail "Depends lacks $package"
done
# A package from a sanitizer build would need these; it must never ship.
for package in libasan8 libubsan1; do
    if grep -qx "$package" <<<"$depends"; then fail "Depends names $package"; fi
done

# --- files ---
appstream_id=$(sed -n 's/^ISP_APPSTREAM_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$appstream_id" ] || fail "the build folder names no AppStream id (ISP_APPSTREAM_ID)"
expected_files=(
    ./usr/bin/velmora-isp2
    ./usr/bin/velmora-isp2-cli
    ./usr/share/applications/velmora-isp2.desktop
    ./usr/share/icons/hicolor/32x32/apps/velmora-isp2.png
    ./usr/share/icons/hicolor/48x48/apps/velmora-isp2.png
    ./usr/share/icons/hicolor/64x64/apps/velmora-isp2.png
    ./usr/share/icons/hicolor/128x128/apps/velmora-isp2.png
    ./usr/share/icons/hicolor/256x256/apps/velmora-isp2.png
    ./usr/share/icons/hicolor/scalable/apps/velmora-isp2.svg
    ./usr/share/doc/velmora-isp2/changelog.gz
    ./usr/share/doc/velmora-isp2/copyright
    ./usr/share/man/man1/velmora-isp2.1.gz
    ./usr/share/man/man1/velmora-isp2-cli.1.gz
    "./usr/share/metainfo/$appstream_id.metainfo.xml"
)
# Regular files only (directories end in /); nothing more, nothing less.
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
printf '%s\n' "${expected_files[@]}" | sort >"$work/expected"
if ! diff -u "$work/expected" "$work/files"; then
    fail "the package's files differ from the expected ones (- missing, + extra)"
fi
mode=$(dpkg-deb --contents "$deb" | awk '$6 == "./usr/bin/velmora-isp2" { print $1 }')
[ "$mode" = "-rwxr-xr-x" ] || fail "the program's mode is '$mode'"

root="$work/root"
dpkg-deb --extract "$deb" "$root"

program="$root/usr/bin/velmora-isp2"
if [ -f "$program" ]; then
    file -b "$program" | grep -q '^ELF .* executable' || fail "the program is not an ELF executable: $(file -b "$program")"
    if ldd "$program" | grep -q 'not found'; then
        fail "libraries of the program do not resolve:"
        ldd "$program" | grep 'not found'
    fi
fi

# The command line: it runs from the package, and its manual page reads.
cli="$root/usr/bin/velmora-isp2-cli"
if [ -f "$cli" ]; then
    if ldd "$cli" | grep -q 'not found'; then
        fail "libraries of the command line do not resolve:"
        ldd "$cli" | grep 'not found'
    fi
    version=$("$cli" --version) || fail "velmora-isp2-cli --version failed"
    [[ "$version" == "velmora-isp2-cli $(field Version)" ]] || fail "velmora-isp2-cli --version says '$version'"
fi
for page in velmora-isp2 velmora-isp2-cli; do
    manual="$root/usr/share/man/man1/$page.1.gz"
    [ -f "$manual" ] || continue
    gzip -t "$manual" || fail "the manual page of $page is not gzip data"
    heading=".TH ${page^^} 1 "
    zcat "$manual" | grep -qF "$heading" || fail "the manual page of $page has no '$heading' heading"
done

# The history, in Debian's format, its first entry for this very version.
changelog="$root/usr/share/doc/velmora-isp2/changelog.gz"
if [ -f "$changelog" ]; then
    zcat "$changelog" >"$work/changelog"
    logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) || fail "the changelog does not parse: $logged"
    [ "$logged" = "$(field Version)" ] || fail "the changelog's last entry is for $logged, the package is $(field Version)"
fi

for size in 32 48 64 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/velmora-isp2.png"
    [ -f "$icon" ] || continue
    kind=$(file -b "$icon")
    [[ "$kind" == "PNG image data, $size x $size,"* ]] || fail "${size}x${size} icon is '$kind'"
done
icon32="$root/usr/share/icons/hicolor/32x32/apps/velmora-isp2.png"
if [ -f "$icon32" ] && ! cmp -s "$icon32" "$source/app/icons/form1_32.png"; then
    fail "the 32-pixel icon is not the main window's icon app/icons/form1_32.png"
fi
svg="$root/usr/share/icons/hicolor/scalable/apps/velmora-isp2.svg"
if [ -f "$svg" ] && ! cmp -s "$svg" "$source/app/icons/velmora-isp2.svg"; then
    fail "the scalable icon is not the drawing app/icons/velmora-isp2.svg"
fi

copyright="$root/usr/share/doc/velmora-isp2/copyright"
if [ -f "$copyright" ]; then
    grep -q '^License: GPL-3+$' "$copyright" || fail "the copyright file does not name GPL-3+"
fi

entry="$root/usr/share/applications/velmora-isp2.desktop"
if [ -f "$entry" ]; then
    if ! desktop-file-validate "$entry"; then
        fail "desktop-file-validate rejects the desktop entry"
    fi
    key() { sed -n "s/^$1=//p" "$entry"; }
    [ "$(key Name)" = "Velmora ISP2" ] || fail "Name is '$(key Name)'"
    [ "$(key Exec)" = velmora-isp2 ] || fail "Exec is '$(key Exec)', not the installed program"
    [ "$(key Icon)" = velmora-isp2 ] || fail "Icon is '$(key Icon)', not the installed icon's name"
    [ "$(key Categories)" = "Development;Electronics;" ] || fail "Categories is '$(key Categories)'"
fi

# What software centres read: valid, named after its id, launching the
# installed desktop entry, for this version, with a screenshot and the
# licences.
metainfo="$root/usr/share/metainfo/$appstream_id.metainfo.xml"
if [ -f "$metainfo" ]; then
    appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli rejects the AppStream metadata"
    xml() { sed -n "s:.*<$1[^>]*>\(.*\)</$1>.*:\1:p" "$metainfo" | head -n 1; }
    [ "$(xml id)" = "$appstream_id" ] || fail "the AppStream id is '$(xml id)', the file is named $appstream_id"
    [ "$(xml launchable)" = velmora-isp2.desktop ] || fail "the AppStream launchable is '$(xml launchable)'"
    [ "$(xml project_license)" = GPL-3.0-or-later ] || fail "the AppStream project licence is '$(xml project_license)'"
    [ "$(xml name)" = "Velmora ISP2" ] || fail "the AppStream name is '$(xml name)'"
    grep -q '<screenshot type="default">' "$metainfo" || fail "the AppStream metadata has no default screenshot"
    grep -q "<release version=\"$(field Version)\"" "$metainfo" ||
        fail "the AppStream metadata has no release $(field Version)"
fi

# Hardened as Debian's own packages: position-independent, relocations
# read-only and bound at start-up, a stack protector, checked C library calls.
for binary in "$program" "$cli"; do
    [ -f "$binary" ] || continue
    name=$(basename "$binary")
    readelf -h "$binary" | grep -q 'Type: *DYN' || fail "$name is not position-independent"
    readelf -l "$binary" | grep -q GNU_RELRO || fail "$name has no read-only relocations (relro)"
    readelf -d "$binary" | grep -q 'FLAGS.*\bNOW\b' || fail "$name does not bind at start-up (-z now)"
    symbols=$(readelf --dyn-syms -W "$binary")
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "$name has no stack protector"
    grep -q '__[a-z]*_chk@' <<<"$symbols" || fail "$name calls no checked C library function (_FORTIFY_SOURCE)"
done

# Debian's own checker: no error and no warning, and no hardening finding at
# any level (lintian names those only as information).
if ! lintian --display-info --fail-on none "$deb" >"$work/lintian" 2>"$work/lintian.log"; then
    cat "$work/lintian.log"
    fail "lintian could not check the package"
fi
cat "$work/lintian"
if grep -qE '^[EW]: ' "$work/lintian"; then
    fail "lintian reports errors or warnings"
fi
if grep -q ' hardening-' "$work/lintian"; then
    fail "lintian finds the programs not hardened"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the package is complete"
