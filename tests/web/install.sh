#!/usr/bin/env bash
# Installs puppeteer-core, at the version package-lock.json pins, into a
# folder of the tests' own (the argument), unless it is there already.
# Chromium itself is Debian's (scripts/install-deps.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dest="$1"
mkdir -p "$dest"
if cmp -s "$here/package-lock.json" "$dest/package-lock.json" && [ -d "$dest/node_modules/puppeteer-core" ]; then
  exit 0
fi
cp "$here/package.json" "$here/package-lock.json" "$dest/"
cd "$dest"
# No browser download: puppeteer-core never fetches one.
npm ci --no-audit --no-fund --loglevel=error
