#!/usr/bin/env bash
# What the package installs for the desktop: the menu entry, the AppStream
# metadata and the icon agree on one reverse-DNS id and validate; and an
# upgrade from the package that installed "quillmere.desktop" leaves exactly
# one menu entry, whose icon and program are there.
# Usage: check-package.sh <build dir> <id>
set -euo pipefail
build=$1
id=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

new=$work/new
DESTDIR=$new cmake --install "$build" --prefix /usr >/dev/null
apps=$new/usr/share/applications
[ "$(ls "$apps")" = "$id.desktop" ] || fail "desktop files installed: $(ls "$apps")"
icon=$(sed -n 's/^Icon=//p' "$apps/$id.desktop")
[ "$icon" = "$id" ] || fail "Icon=$icon"
compgen -G "$new/usr/share/icons/hicolor/*/apps/$icon.png" >/dev/null || fail "no icon file named $icon"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$apps/$id.desktop")
[ -x "$new/usr/bin/$program" ] || fail "Exec=$program is not installed"
for f in index.html viewer.js viewer.css; do
    [ -s "$new/usr/share/quillmere/web/$f" ] || fail "the web viewer's $f is not installed"
done
meta=$new/usr/share/metainfo/$id.metainfo.xml
grep -q "<id>$id</id>" "$meta" || fail "the metadata's id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$meta" || fail "the metadata's launchable"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$apps/$id.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --explain "$meta" >"$work/as.log" 2>&1 || { cat "$work/as.log"; fail "appstreamcli validate"; }
fi

# The upgrade, in a dpkg database of its own.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
control() { printf 'Package: quillmere\nVersion: %s\nArchitecture: all\nMaintainer: Quillmere <quillmere@localhost>\nDescription: gallery editor\n' "$1"; }
old=$work/old
mkdir -p "$old/DEBIAN" "$old/usr/bin" "$old/usr/share/applications" "$old/usr/share/icons/hicolor/256x256/apps" \
         "$old/usr/share/metainfo"
control 0.1.0~old >"$old/DEBIAN/control"
cp "$new/usr/bin/quillmere" "$old/usr/bin/"
printf '[Desktop Entry]\nType=Application\nName=Quillmere\nExec=quillmere\nIcon=quillmere\n' \
    >"$old/usr/share/applications/quillmere.desktop"
cp "$new/usr/share/icons/hicolor/256x256/apps/$id.png" "$old/usr/share/icons/hicolor/256x256/apps/quillmere.png"
sed -e "s/$id/quillmere/g" "$meta" >"$old/usr/share/metainfo/quillmere.metainfo.xml"
mkdir -p "$new/DEBIAN"
control 0.1.0 >"$new/DEBIAN/control"
dpkg=(dpkg --root="$root" --force-not-root --force-script-chrootless --log=/dev/null)
dpkg-deb --root-owner-group -Znone -b "$old" "$work/old.deb" >/dev/null
dpkg-deb --root-owner-group -Znone -b "$new" "$work/new.deb" >/dev/null
"${dpkg[@]}" -i "$work/old.deb" >/dev/null
"${dpkg[@]}" -i "$work/new.deb" >/dev/null
[ "$(ls "$root/usr/share/applications")" = "$id.desktop" ] \
    || fail "menu entries after the upgrade: $(ls "$root/usr/share/applications")"
[ -f "$root/usr/share/icons/hicolor/256x256/apps/$id.png" ] || fail "the icon after the upgrade"
[ ! -e "$root/usr/share/icons/hicolor/256x256/apps/quillmere.png" ] || fail "the old icon is left behind"
[ -x "$root/usr/bin/quillmere" ] || fail "the program after the upgrade"
echo "1 passed, 0 failed"
