#!/bin/bash
# Writes the short multiplexes and elementary streams that the scanner tests read:
# transport streams (188- and 192-byte packets), an MPEG-1 program stream and raw streams.
set -euo pipefail
out="$1"
tmp="$out.tmp"
rm -rf "$tmp"
mkdir -p "$tmp"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video=(-f lavfi -i testsrc=size=352x288:rate=25:duration=2)
audio=(-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2)
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 1M -c:a mp2 -ac 2 -b:a 192k -f mpegts "$tmp/mpeg2-mp2.ts"
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 1M -c:a ac3 -ac 2 -f mpegts "$tmp/mpeg2-ac3.ts"
ff "${video[@]}" "${audio[@]}" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac 2 -f mpegts "$tmp/h264-aac.ts"
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 1M -c:a mp2 -ac 2 -b:a 192k -f mpegts -mpegts_m2ts_mode 1 "$tmp/mpeg2-mp2.m2ts"
ff "${video[@]}" "${audio[@]}" -c:v mpeg1video -b:v 1M -c:a mp2 -ac 2 -b:a 192k -f mpeg "$tmp/mpeg1.mpg"
ff "${video[@]}" -c:v mpeg2video -b:v 1M -f mpeg2video "$tmp/raw.m2v"
ff "${audio[@]}" -c:a mp2 -ac 2 -b:a 192k -f mp2 "$tmp/raw.mp2"
ff "${audio[@]}" -c:a ac3 -f ac3 "$tmp/raw.ac3"
rm -rf "$out"
mv "$tmp" "$out"
