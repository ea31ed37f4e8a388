#!/usr/bin/env bash
# Shared by ./scripts/run and ./scripts/test: installs what Clipmora needs on
# Debian 12 (only the packages that are missing) and builds a tree.
#   clipmora_install_packages
#   clipmora_build BUILD_DIR [cmake options...]           everything: programs, tests, benchmarks
#   clipmora_build_programs BUILD_DIR [cmake options...]  the window and the command line only
set -euo pipefail

CLIPMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Build tools; test framework; Qt; codec library
# headers and, at run time, the codec build with every encoder the formats
# name; GStreamer headers and, at run time, the plug-ins the preview plays
# with and the discoverer the tests check outputs with; a display server for
# running the window without a desktop; the opener the window shows its help
# and the output folder with; the checker of the software centres' metainfo.
CLIPMORA_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev
  qt6-base-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev libavdevice-dev libavcodec-extra59
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-plugins-base-apps
  xvfb xauth
  xdg-utils
  appstream
)

clipmora_install_packages() {
  local missing=() pkg
  for pkg in "${CLIPMORA_PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null)" != "installed" ]; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
}

clipmora_build() {
  local dir=$1
  shift
  cmake -S "$CLIPMORA_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

clipmora_build_programs() {
  local dir=$1
  shift
  cmake -S "$CLIPMORA_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target clipmora clipmora-cli
}
