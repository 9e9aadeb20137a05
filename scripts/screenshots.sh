#!/bin/sh
# Remakes the README's pictures in docs/:
#   docs/main-window.png      the main window on the demo norm base
#   docs/estimate-window.png  the estimate window with positions
#   docs/workbook.png         the exported workbook as LibreOffice renders it
#
#   scripts/screenshots.sh [BUILD_DIR]
#
# BUILD_DIR defaults to ./build; the targets talvira-cli and talvira_screenshots are built there
# when missing. The windows are drawn on Qt's offscreen platform (no display needed); the
# workbook goes through soffice (PDF) and pdftoppm (poppler-utils).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" 2>/dev/null && pwd || { mkdir -p "${1:-$ROOT/build}" && cd "${1:-$ROOT/build}" && pwd; })
CLI="$BUILD/tools/talvira-cli"
SHOTS="$BUILD/tests/e2e/talvira_screenshots"

if [ ! -x "$CLI" ] || [ ! -x "$SHOTS" ]; then
    [ -f "$BUILD/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD" -j2 --target talvira-cli talvira_screenshots
fi
for tool in soffice pdftoppm; do
    command -v "$tool" >/dev/null || { echo "нет программы $tool (пакеты libreoffice-calc-nogui, poppler-utils)" >&2; exit 1; }
done

# A fixed start directory: its path shows on the main window.
WORK=${TMPDIR:-/tmp}/talvira-screenshots
rm -rf "$WORK"
trap 'rm -rf "$WORK"' EXIT
START="$WORK/demo"
mkdir -p "$START/Smeti" "$ROOT/docs"
"$CLI" mkbase "$START/Base" --scale small >/dev/null 2>&1
cp "$ROOT/data/template/1.xls" "$START/Base/1.xls"

# The windows. The workbook is written into the temporary folder; its path comes last.
BOOK=$(cd "$START" && TMPDIR="$WORK" QT_QPA_PLATFORM=offscreen "$SHOTS" "$ROOT/docs" | tail -n 1)
[ -f "$BOOK" ] || { echo "книга не записана" >&2; exit 1; }

# The workbook as LibreOffice prints it, the whole sheet on one page.
cp "$BOOK" "$WORK/workbook.xls"
LC_ALL=C.UTF-8 soffice --headless --norestore "-env:UserInstallation=file://$WORK/profile" \
    --convert-to 'pdf:calc_pdf_Export:{"SinglePageSheets":{"type":"boolean","value":"true"}}' \
    --outdir "$WORK" "$WORK/workbook.xls" >/dev/null 2>&1
pdftoppm -png -r 80 -singlefile -f 1 -l 1 "$WORK/workbook.pdf" "$ROOT/docs/workbook"

for f in main-window estimate-window workbook; do
    size=$(wc -c <"$ROOT/docs/$f.png")
    echo "docs/$f.png: $size bytes"
done
