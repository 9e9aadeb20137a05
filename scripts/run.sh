#!/bin/sh
# Installs, builds, creates the demo norm base in demo/ when it is missing and starts the program
# there in the Russian locale ru_RU.UTF-8 (numbers with a decimal comma), which
# scripts/install-deps.sh generates.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
sh scripts/install-deps.sh
sh scripts/build.sh build
mkdir -p demo/Smeti
if [ ! -f demo/Base/RABMAT.DB ]; then
  "$ROOT/build/tools/talvira-cli" mkbase demo/Base --scale small
fi
[ -f demo/Base/1.xls ] || cp data/template/1.xls demo/Base/1.xls
cd demo
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
exec "$ROOT/build/app/talvira"
