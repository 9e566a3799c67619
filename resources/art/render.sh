#!/usr/bin/env bash
# Renders the SVG sources in src/ to the PNG files the program embeds.
# Re-run after editing any SVG; the PNGs are kept in the repository so a
# normal build does not need rsvg-convert or ImageMagick.
set -euo pipefail

# Paths below are relative to this folder, so it can be run from anywhere.
cd "$(dirname "$0")"

# ImageMagick 7 calls it "magick"; older installs only have "convert".
if command -v magick >/dev/null 2>&1; then
    IM=(magick)
else
    IM=(convert)
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for svg in src/*.svg; do
    name=$(basename "$svg" .svg)
    # No -w/-h: each drawing is rendered at the size its own viewBox declares.
    rsvg-convert "$svg" -o "$tmp/$name.png"
    # A 256-colour palette keeps the files small for embedding; PNG32 keeps
    # the full alpha channel so soft edges still blend with any background.
    # No dithering: at these sizes dither shows up as grain on the gradients.
    "${IM[@]}" "$tmp/$name.png" +dither -colors 256 -strip "PNG32:$name.png"
    echo "$name.png"
done

# Desktop icon theme sizes. Rendered straight from the vector source at each
# size (not scaled from one bitmap) so small sizes stay sharp.
for n in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${n}x${n}"
    rsvg-convert -w "$n" -h "$n" src/program-icon.svg -o "hicolor/${n}x${n}/trayvo2010.png"
    echo "hicolor/${n}x${n}/trayvo2010.png"
done
