#!/bin/sh
# Builds the Debian package from the build directory BUILD into a scratch folder and checks it:
# its file list, the desktop entry, and that the menu's starter prepares ~/Тальвира (run with
# HOME set to a scratch folder and a stand-in `talvira` first on PATH).
#   check-package.sh BUILD
# Exit code 77 (skipped) when dpkg-deb is missing.
set -eu
BUILD=$(cd "$1" && pwd)
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed: skipped"; exit 77; }
command -v cpack >/dev/null || { echo "cpack is not installed: skipped"; exit 77; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$TMP" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1) ||
  { cat "$TMP/cpack.log"; fail "cpack did not build the package"; }
DEB=$(ls "$TMP"/out/talvira_*.deb 2>/dev/null | head -n 1)
[ -n "$DEB" ] || { cat "$TMP/cpack.log"; fail "no talvira_*.deb written"; }
echo "package: $(basename "$DEB")"

dpkg-deb -c "$DEB" | awk '{ print $NF }' | sed 's|^\./|/|' >"$TMP/files"
for f in /usr/bin/talvira /usr/bin/talvira-cli /usr/bin/talvira-launch \
         /usr/share/talvira/Base/1.xls /usr/share/talvira/Base/000_REESTR.DB /usr/share/talvira/Base/OGL.DB \
         /usr/share/talvira/Base/RABMAT.DB /usr/share/talvira/Base/RESURS.DB /usr/share/talvira/Base/000_NAME.DB \
         /usr/share/talvira/Base/000_NAME.MB /usr/share/talvira/Base/000_EDIZM.DB \
         /usr/share/talvira/nrsp/nr-812.csv /usr/share/talvira/nrsp/sp-774.csv /usr/share/talvira/nrsp/README.md \
         /usr/share/talvira/gge/LocalEstimateBaseIndexMethod-3_01.xsd /usr/share/talvira/gge/checks.txt \
         /usr/share/talvira/gge/README.md \
         /usr/share/applications/talvira.desktop /usr/share/doc/talvira/copyright \
         /usr/share/mime/packages/talvira.xml \
         /usr/share/icons/hicolor/48x48/apps/talvira.png /usr/share/icons/hicolor/64x64/apps/talvira.png \
         /usr/share/icons/hicolor/128x128/apps/talvira.png /usr/share/icons/hicolor/256x256/apps/talvira.png; do
  grep -qx "$f" "$TMP/files" || fail "the package lacks $f"
done
# Nothing of the build or the tests goes along.
if grep -Eq '_tests$|/include/|\.a$' "$TMP/files"; then fail "the package carries build files"; fi
dpkg-deb -f "$DEB" Depends | grep -q 'qt6-translations-l10n' || fail "Depends lacks qt6-translations-l10n"
dpkg-deb -f "$DEB" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries"
# The libraries the programs load only when first needed, which dpkg-shlibdeps cannot see.
for lib in libxlsxwriter4 libzip4 libgsf-1-114 libxml2; do
  dpkg-deb -f "$DEB" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qx "$lib" || fail "Depends lacks $lib"
done

ROOT="$TMP/root"
dpkg-deb -x "$DEB" "$ROOT"
DESKTOP="$ROOT/usr/share/applications/talvira.desktop"
grep -qx 'Name=Тальвира' "$DESKTOP" || fail "the desktop entry is not named Тальвира"
grep -qx 'Exec=talvira-launch %f' "$DESKTOP" || fail "the desktop entry does not start the launcher with the file"
grep -qx 'MimeType=application/x-gge+xml;' "$DESKTOP" || fail "the desktop entry does not open expertise files"
grep -q '<glob pattern="\*.gge"/>' "$ROOT/usr/share/mime/packages/talvira.xml" || fail "the type of *.gge is not registered"
grep -qx 'Icon=talvira' "$DESKTOP" || fail "the desktop entry has no icon"
for size in 48 64 128 256; do
  png="$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/talvira.png"
  head -c 8 "$png" | od -An -c | grep -q 'P   N   G' || fail "the $size px icon is not a PNG"
  # width and height, big-endian at bytes 16..23 of the IHDR chunk
  [ "$(od -An -tu4 --endian=big -j16 -N8 "$png" | tr -s ' ' | sed 's/^ //')" = "$size $size" ] ||
    fail "the $size px icon is not $size x $size"
done
grep -q '^Copyright:' "$ROOT/usr/share/doc/talvira/copyright" || fail "the copyright file names no copyright"
if command -v readelf >/dev/null; then
  for b in talvira talvira-cli; do
    ! readelf -S "$ROOT/usr/bin/$b" | grep -Eq '\.debug_info|\.symtab' || fail "/usr/bin/$b is not stripped"
    # Those the programs load when first needed are not loaded at every start.
    ! readelf -d "$ROOT/usr/bin/$b" | grep NEEDED | grep -Eq 'libxlsxwriter|libzip|libgsf|libxml2' ||
      fail "/usr/bin/$b loads at start a library it loads when first needed"
  done
fi
"$ROOT/usr/bin/talvira-cli" table info "$ROOT/usr/share/talvira/Base/RABMAT.DB" >/dev/null ||
  fail "the demo base's RABMAT.DB is not a table"

# The launcher, with a stand-in program that tells where it was started.
mkdir -p "$TMP/home" "$TMP/fakebin"
cat >"$TMP/fakebin/talvira" <<'EOS'
#!/bin/sh
pwd >"$HOME/started-in"
echo "$@" >"$HOME/arguments"
echo "${LC_ALL:-}" >"$HOME/locale"
EOS
# The system's locales as the launcher asks for them: the Russian one, or none of it.
cat >"$TMP/fakebin/locale" <<'EOS'
#!/bin/sh
printf 'C\nC.utf8\nPOSIX\n'
[ -e "$HOME/has-russian" ] && echo ru_RU.utf8
exit 0
EOS
chmod +x "$TMP/fakebin/talvira" "$TMP/fakebin/locale"
launch() { HOME="$TMP/home" PATH="$TMP/fakebin:$PATH" LC_ALL=C.UTF-8 "$ROOT/usr/bin/talvira-launch" "$@"; }
launch
[ "$(cat "$TMP/home/locale")" = C.UTF-8 ] || fail "without ru_RU.UTF-8 the locale was changed to $(cat "$TMP/home/locale")"
touch "$TMP/home/has-russian"
launch
[ "$(cat "$TMP/home/locale")" = ru_RU.UTF-8 ] || fail "the program was not started in ru_RU.UTF-8 but in $(cat "$TMP/home/locale")"
WORK="$TMP/home/Тальвира"
[ "$(cat "$TMP/home/started-in")" = "$WORK" ] || fail "talvira was started in $(cat "$TMP/home/started-in"), not $WORK"
for f in 1.xls 000_REESTR.DB OGL.DB RABMAT.DB RESURS.DB 000_NAME.DB 000_NAME.MB 000_EDIZM.DB; do
  cmp -s "$ROOT/usr/share/talvira/Base/$f" "$WORK/Base/$f" || fail "Base/$f is not the demo base's"
done
[ -d "$WORK/Smeti" ] || fail "Smeti/ was not made"
[ -z "$(ls -A "$WORK/Smeti")" ] || fail "Smeti/ is not empty"
[ -w "$WORK/Base/RABMAT.DB" ] || fail "the copied base is not the user's to change"
# A second start keeps what the user has there.
echo estimate >"$WORK/Smeti/Дом.db"
echo changed >"$WORK/Base/1.xls"
rm -f "$TMP/home/started-in"
launch --x
[ "$(cat "$WORK/Smeti/Дом.db")" = estimate ] || fail "an estimate was touched"
[ "$(cat "$WORK/Base/1.xls")" = changed ] || fail "the user's base was overwritten"
[ "$(cat "$TMP/home/started-in")" = "$WORK" ] || fail "the second start was not in $WORK"
[ "$(cat "$TMP/home/arguments")" = "--x" ] || fail "the arguments were not passed on"
echo "package checked: $(wc -l <"$TMP/files") entries"
