#!/usr/bin/env bash
# Makes the fuzz targets' seeds in FOLDER/<target>/: our own code's (the
# fuzz_seeds program), then small WAV and VOC files from sox and BMP and PCX
# files from ImageMagick. A tool that is missing is reported and its seeds
# are left out; the replay of the committed corpus still runs.
# Usage: make_seeds.sh FUZZ_SEEDS_PROGRAM FOLDER
set -euo pipefail
program=$1
out=$2
rm -rf "$out"
mkdir -p "$out"/{wav,adpcm,stream,bmp,pcx}
"$program" "$out"

if command -v sox >/dev/null; then
  s() { sox -n "$@" synth 0.02 sine 440 2>/dev/null; }
  s -r 8000 -b 8 -c 1 "$out/wav/mono8.wav"
  s -r 11025 -b 16 -c 2 "$out/wav/stereo16.wav"
  s -r 22050 -e ima-adpcm -c 1 "$out/wav/sox-ima-mono.wav"
  s -r 11025 -e ima-adpcm -c 2 "$out/wav/sox-ima-stereo.wav"
  s -r 8000 -b 8 -c 1 -t voc "$out/wav/mono8.voc"
  s -r 11025 -b 8 -c 2 -t voc "$out/wav/stereo8.voc"
  s -r 8000 -b 16 -c 1 -t voc "$out/wav/mono16.voc"
  cp "$out"/wav/{mono8,stereo16,sox-ima-mono,sox-ima-stereo}.wav "$out/adpcm/"
  cp "$out"/wav/{mono8,stereo16,sox-ima-mono,sox-ima-stereo}.wav "$out/stream/"
else
  echo "sox is missing: no WAV or VOC seeds from it" >&2
fi

if command -v convert >/dev/null; then
  img() { convert -seed 7 -size 13x7 plasma:fractal "$@"; }
  img -type TrueColor "BMP3:$out/bmp/true24.bmp"
  img -type Palette -colors 200 "BMP3:$out/bmp/palette8.bmp"
  img -colors 16 -type Palette "BMP3:$out/bmp/palette4.bmp"
  img -monochrome "BMP3:$out/bmp/mono1.bmp"
  img -type Palette -colors 50 -compress RLE "BMP3:$out/bmp/rle8.bmp"
  img -type TrueColor "BMP2:$out/bmp/core24.bmp"
  img -type TrueColor "PCX:$out/pcx/true24.pcx"
  img -type Palette -colors 100 "PCX:$out/pcx/palette8.pcx"
  img -monochrome "PCX:$out/pcx/mono1.pcx"
else
  echo "ImageMagick is missing: no BMP or PCX seeds from it" >&2
fi
