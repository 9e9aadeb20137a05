#!/bin/sh
# Remakes data/template/1.xls (the workbook template bundled with the demo norm base) from
# its source data/template/1.fods with LibreOffice.
set -e
cd "$(dirname "$0")/.."
TMP=$(mktemp -d)
soffice -env:UserInstallation=file://$TMP/profile --headless --convert-to 'xls:MS Excel 97' \
  data/template/1.fods --outdir "$TMP" >/dev/null
cp "$TMP/1.xls" data/template/1.xls
rm -rf "$TMP"
