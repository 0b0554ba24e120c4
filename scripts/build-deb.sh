#!/usr/bin/env bash
# Builds the Debian binary packages (debian/) into out/packages/, with
# dpkg-buildpackage from a copy of the tracked files under build-deb/.
# The version is project(VERSION) of CMakeLists.txt, written into a
# debian/changelog made here; its date, and SOURCE_DATE_EPOCH, are the last
# commit's, so that two builds of one commit give the same bytes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
JOBS=${JOBS:-2}

# What packaging needs beyond the build's own packages (scripts/install-deps.sh).
packages=(dpkg-dev debhelper fakeroot lintian git)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "build-deb.sh: packages are built from a git checkout (the version's date is the last commit's)" >&2
  exit 1
fi
version=$(sed -n 's/^project(zemo3 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "build-deb.sh: no project(zemo3 VERSION x.y.z) in CMakeLists.txt" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
commit=$(git log -1 --format=%h --abbrev=12)
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
note="Built from commit $commit."
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  note="Built from commit $commit with changes not committed."
  echo "build-deb.sh: tracked files differ from commit ${commit:0:12}; the packages hold the changes" >&2
fi

# The same folder every time: build paths end up in the binaries.
stage=build-deb/zemo3-$version
rm -rf build-deb
mkdir -p "$stage"
git ls-files -z | xargs -0 cp --parents -d -t "$stage"
cat >"$stage/debian/changelog" <<CHANGELOG
zemo3 ($version) unstable; urgency=medium

  * Zemo 3 Export $version.
  * $note

 -- $maintainer  $(date -u -R -d "@$SOURCE_DATE_EPOCH")
CHANGELOG

# No debug-symbol packages, and so no debug information compiled only to be
# stripped (-g0 after dpkg-buildflags' -g: a fifth of the compiler's time);
# no tests (the project's suite runs them).
export DEB_BUILD_OPTIONS="noddebs nocheck parallel=$JOBS"
export DEB_CFLAGS_MAINT_APPEND=-g0 DEB_CXXFLAGS_MAINT_APPEND=-g0
# debhelper gives the build a HOME of its own: a ccache launcher (CMake
# takes CMAKE_<LANG>_COMPILER_LAUNCHER from the environment) keeps the
# caller's cache and settings, except a base_dir: its relative paths would
# give other debug information, hence other build IDs, than a compile
# without ccache.
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
  export CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
  conf=${CCACHE_CONFIGPATH:-${XDG_CONFIG_HOME:-$HOME/.config}/ccache/ccache.conf}
  [ -f "$conf" ] && export CCACHE_CONFIGPATH=$conf
  export CCACHE_BASEDIR=
fi
(cd "$stage" && dpkg-buildpackage -b -us -uc)

mkdir -p out/packages
rm -f out/packages/*.deb
debs=(build-deb/*.deb)
cp "${debs[@]}" out/packages/
echo "== lintian"
lintian --fail-on error --display-info build-deb/*.changes
echo "== out/packages"
ls -l out/packages/*.deb
