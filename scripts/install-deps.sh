#!/usr/bin/env bash
# Installs the Debian packages KEL needs to build, run and test. Does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-pdf-dev qt6-svg-dev
  libqt6multimedia6 libqt6multimediawidgets6 libqt6pdfwidgets6
  qt6-translations-l10n qt6-qpa-plugins
  libopencv-core-dev libopencv-imgproc-dev libopencv-videoio-dev
  libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libavutil-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  ffmpeg
  xvfb xauth fonts-dejavu-core
  libqpdf-dev
  clang-format desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installation des paquets manquants : ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
