#!/bin/bash
# Writes the fuzz seed corpora: in DIR/avi, small clips of every layout the test-clip writer
# knows, clips in other codecs made with the ffmpeg command, and a few damaged ones; in DIR/wave,
# WAVE images of every encoding the sound services play, as the slices and the ffmpeg command
# write them.
#   fuzz/make_seeds.sh --make-avi BIN --out DIR
set -euo pipefail
make_avi=
out=
while [ $# -gt 0 ]; do
    case "$1" in
        --make-avi) make_avi=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: $0 --make-avi BIN --out DIR" >&2; exit 2 ;;
    esac
done
[ -n "$make_avi" ] && [ -n "$out" ] || { echo "usage: $0 --make-avi BIN --out DIR" >&2; exit 2; }
wave_out=$out/wave
out=$out/avi
mkdir -p "$out" "$wave_out"

# Small pictures and few frames: seeds of a few kilobytes keep the fuzzer fast.
clip() {
    local name=$1
    shift
    "$make_avi" --out "$out/$name.avi" --width 12 --height 8 --frames 3 --audio-chunk 400 "$@"
}
clip raw24
clip raw8 --bits 8
clip raw16 --bits 16
clip raw32 --bits 32
clip top_down --top-down
clip audio_first --audio-first
clip three_streams --third-stream
clip dropped --frames 4 --empty-frame 1 --empty-frame 3
clip no_audio --no-audio
clip no_video --no-video --audio-samples 900
clip rcframe --rcframe 2,1,10,7
clip empty_rcframe --empty-rcframe
clip odd_rate --scale 1001 --rate 30000 --audio-samples 1000
clip zero_frames --frames 0

# Other codecs and audio formats, through the ffmpeg command.
if command -v ffmpeg >/dev/null; then
    ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
    video="-f lavfi -i testsrc=size=16x16:rate=30"
    sound="-f lavfi -i sine=frequency=440:sample_rate=8000"
    ff $video -frames:v 3 -c:v mjpeg -an "$out/mjpeg.avi"
    ff $video -frames:v 4 -c:v mpeg4 -g 2 -bf 1 -an "$out/mpeg4_bframes.avi"
    ff $video -frames:v 3 -c:v msvideo1 -an "$out/msvideo1.avi"
    ff $video -frames:v 2 -c:v cinepak -an "$out/cinepak.avi"
    ff $video -frames:v 2 -c:v rawvideo -pix_fmt pal8 -an "$out/pal8.avi"
    ff $video $sound -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 1 -shortest "$out/u8_audio.avi"
    ff $video $sound -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -c:a adpcm_ima_wav -ac 1 -shortest "$out/adpcm_audio.avi"
    ff $video $sound -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -c:a mp3 -ac 1 -shortest "$out/mp3_audio.avi" 2>/dev/null || true
    ff $sound -t 0.1 -c:a pcm_s16le -ac 2 "$out/stereo_only.avi"
fi

# Damaged: cut short, no index, a garbage tail.
base="$out/raw24.avi"
size=$(stat -c %s "$base")
head -c $((size / 2)) "$base" >"$out/cut_half.avi"
head -c 300 "$base" >"$out/cut_headers.avi"
idx1=$(grep -abo idx1 "$base" | tail -n1 | cut -d: -f1)
head -c "$idx1" "$base" >"$out/no_index.avi"
{ head -c $((size - 64)) "$base"; head -c 64 /dev/zero | tr '\0' '\377'; } >"$out/garbage_tail.avi"
# WAVE images: a slice as playback makes it (2134 bytes of 16-bit mono PCM at 32000 Hz after the
# 44-byte header), the same after an odd-sized chunk whose pad byte must be skipped, then every
# playable encoding and channel count with the ffmpeg command's extra chunks.
le16() { printf "$(printf '\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
slice_wave() {
    local data=2134 extra=0
    [ "$1" = padded ] && extra=12
    printf 'RIFF' && le32 $((36 + extra + data)) && printf 'WAVE'
    [ "$1" = padded ] && printf 'junk' && le32 3 && printf 'abc\0'
    printf 'fmt ' && le32 16 && le16 1 && le16 1 && le32 32000 && le32 64000 && le16 2 && le16 16
    printf 'data' && le32 $data && head -c $data /dev/urandom
}
slice_wave plain >"$wave_out/slice.wav"
slice_wave padded >"$wave_out/padded_chunk.wav"
if command -v ffmpeg >/dev/null; then
    tone="-f lavfi -i sine=frequency=440:sample_rate=8000 -t 0.02"
    ff $tone -c:a pcm_u8 "$wave_out/u8.wav"
    ff $tone -c:a pcm_s16le -ac 2 "$wave_out/s16_stereo.wav"
    ff $tone -c:a pcm_s32le "$wave_out/s32.wav"
    ff $tone -c:a pcm_f32le -ac 8 "$wave_out/f32_8ch.wav"
    ff $tone -c:a pcm_s16le -ar 384000 "$wave_out/s16_384k.wav"
fi
echo "make_seeds.sh: $(ls "$out" | wc -l) AVI seeds in $out, $(ls "$wave_out" | wc -l) WAVE seeds in $wave_out"
