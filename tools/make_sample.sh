#!/bin/bash
# Makes samples/sample.avi: 10 s of 320x240 video at 29.97 fps with a frame counter over a moving
# test pattern, and 16-bit mono PCM at 32000 Hz with a 1 kHz tick at the start of every second.
# The audio holds 300 x 1067 samples, one 2134-byte slice for each of the 300 frames.
# Needs the ffmpeg command and fonts-dejavu-core (Debian: apt-get install ffmpeg fonts-dejavu-core).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/samples/sample.avi}
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
frames=300
samples=$((frames * 1067))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Video alone: -frames:v would cut the audio short if both were encoded in one command.
# MPEG-4 part 2 with a short GOP keeps the file small and stepping back cheap.
ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=320x240:rate=30000/1001" \
    -vf "drawtext=fontfile=$font:text='frame %{frame_num}':x=(w-tw)/2:y=h-th-16:fontsize=32:fontcolor=white:box=1:boxcolor=black@0.7:boxborderw=6" \
    -frames:v "$frames" -c:v mpeg4 -vtag XVID -q:v 7 -g 12 -an "$work/video.avi"

# The tick: 40 ms of a 1 kHz sine at half scale at the start of each second, silence between.
ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)*lt(mod(t\,1)\,0.04):s=32000:c=mono" \
    -af "atrim=end_sample=$samples" -c:a pcm_s16le "$work/audio.wav"

ffmpeg -nostdin -hide_banner -loglevel error -y \
    -i "$work/video.avi" -i "$work/audio.wav" -map 0:v -map 1:a -c copy "$out"

echo "wrote $out ($(stat -c %s "$out") bytes)"
