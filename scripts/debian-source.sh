#!/usr/bin/env bash
# Fetches and unpacks the source of one of Debian's packages into a folder,
# once, and prints the unpacked tree's path:
#
#   scripts/debian-source.sh PACKAGE FOLDER
#
# The source comes through a private apt configuration under FOLDER/apt: the
# machine's own package sources turned into source entries, with lists and
# cache of its own, so the machine's apt configuration is left alone. The
# Win64 build takes FFmpeg and cpp-httplib from here.
set -euo pipefail
package=$1
work=$2
mkdir -p "$work"
work=$(cd "$work" && pwd)
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-[0-9]*" | sort | head -n 1)
if [ -z "$src" ]; then
  # Every "deb" entry of the machine's sources as "deb-src".
  apt=$work/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
  : > "$apt/sources.list"
  if [ -f /etc/apt/sources.list ]; then
    sed -n -E 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list > "$apt/sources.list"
  fi
  for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    case "$f" in
      *.sources) sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$apt/sources.list.d/$(basename "$f")" ;;
      *.list) sed -n -E 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$apt/sources.list.d/$(basename "$f")" ;;
    esac
  done
  aptopts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts="$apt/sources.list.d"
           -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Debug::NoLocking=1
           -o APT::Sandbox::User=root)
  echo "Fetching Debian's source package $package" >&2
  apt-get "${aptopts[@]}" update -qq >&2
  (cd "$work" && apt-get "${aptopts[@]}" source -qq --only-source "$package" >/dev/null)
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-[0-9]*" | sort | head -n 1)
fi
[ -n "$src" ] || { echo "debian-source: no source of $package was unpacked" >&2; exit 1; }
echo "$src"
