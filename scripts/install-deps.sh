#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: installs only
# what is missing, and runs apt-get update only when something is.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswscale-dev libswresample-dev
  liblzf-dev
  # Only for bench/bench_play_cpu, which unpacks HAP frames as a HAP player
  # does; the product does not link it.
  libsnappy-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools gstreamer1.0-plugins-base-apps
  libsdl2-dev libepoxy-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0 xvfb xauth
  libvlccore-dev vlc-bin vlc-plugin-base libvlc-bin
  imagemagick
  # The farm tests (tests/farm): ffprobe and ffmpeg read movies back; sshd with
  # GNU parallel, and munged with a one-node Slurm, are started by the tests
  # with configurations, ports and sockets of their own. Where an init system
  # runs, installing these starts Debian's own sshd (port 22) and munged, which
  # the tests neither use nor mind; slurmd and slurmctld stop at once without
  # /etc/slurm/slurm.conf. In a container whose policy-rc.d refuses, none starts.
  ffmpeg openssh-server openssh-client parallel slurm-wlm munge
  # The browser player (make web) and `zemo3 view`: Emscripten (node-acorn for
  # its JavaScript optimiser), cpp-httplib, and Chromium for the player's tests.
  emscripten node-acorn libcpp-httplib-dev chromium
  # The packages' install test fetches from zemo3 view with curl.
  curl
)
# Node and npm for the player's tests: Debian's, unless a Node is already there.
if ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
