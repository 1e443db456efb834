#!/usr/bin/env bash
# Redraws the PNG icons from their SVG sources (src/*.svg, and icon.svg, which the view also
# shows as its logo). The PNGs are committed, so only run this after changing a drawing.
# Needs g++, pkg-config and the Qt 5 Svg development files (Debian: libqt5svg5-dev).
set -euo pipefail
cd "$(dirname "$0")"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck disable=SC2046
g++ -std=c++17 -fPIC -O1 -o "$tmp/svgtopng" svgtopng.cpp $(pkg-config --cflags --libs Qt5Svg Qt5Gui)

render() { # render <source.svg> <output.png> <width> <height>
  QT_QPA_PLATFORM=offscreen "$tmp/svgtopng" "$1" "$2" "$3" "$4"
}

render icon.svg icon.png 64 64
render src/logo-branding.svg logo-branding.png 164 16
for source in src/*.svg; do
  name=$(basename "$source" .svg)
  [ "$name" = logo-branding ] && continue
  render "$source" "$name.png" 16 16
done
