// Writes a test clip from command-line options; see --help.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/avi_writer.h"

namespace {

const char usage[] =
    "usage: make_test_avi --out FILE [options]\n"
    "Writes an AVI clip with raw DIB video and 16-bit mono 32000 Hz PCM audio whose pixels and\n"
    "samples are known functions of their position.\n"
    "\n"
    "  --out FILE          file to write (required)\n"
    "  --width N           video width in pixels (default 64)\n"
    "  --height N          video height in pixels (default 48)\n"
    "  --frames N          number of video frames (default 30)\n"
    "  --scale N           video dwScale (default 1000)\n"
    "  --rate N            video dwRate (default 30000); frames per second = rate / scale\n"
    "  --bits N            8 (colour table), 16 (RGB555), 24 or 32 bits per pixel (default 24)\n"
    "  --top-down          store rows top first, with a negative height in the format\n"
    "  --empty-rcframe     leave the video stream header's rcFrame all zero\n"
    "  --rcframe L,T,R,B   write this rcFrame in the video stream header\n"
    "  --empty-frame N     write frame N as an empty chunk (a dropped frame); repeatable\n"
    "  --audio-samples N   audio length in samples (default 1067 per frame; 32000 without video)\n"
    "  --audio-chunk N     samples per audio chunk, interleaved with the frames (default 1067)\n"
    "  --audio-first       put the audio stream before the video stream\n"
    "  --third-stream      add a second audio stream (same length and chunking, other content)\n"
    "  --no-audio          no audio stream\n"
    "  --no-video          no video stream\n"
    "  --help              show this text\n"
    "\n"
    "Content (all arithmetic modulo 256 for pixels, 32-bit unsigned for samples; y counts from\n"
    "the top, f is the frame number):\n"
    "  24/32-bit pixel: r = 7x + 13f, g = 11y + 3f + x/32, b = 3x + 5y + 29f; 32-bit adds 0x80\n"
    "  16-bit pixel:    (r>>3)<<10 | (g>>3)<<5 | (b>>3)\n"
    "  8-bit pixel:     index 5x + 9y + 17f; colour i: r = 37i + 11, g = 255 - i, b = 101i\n"
    "  sample n:        int16(mix(lo32(n) ^ mix(hi32(n) + 0x9e3779b9 * (salt + 1))) >> 16), salt 0\n"
    "                   for the first audio stream, 1 for the third stream; mix(h): h ^= h>>16,\n"
    "                   h *= 0x7feb352d, h ^= h>>15, h *= 0x846ca68b, h ^= h>>16\n";

bool parse_int(const char* text, long long min, long long max, long long* out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < min || v > max)
        return false;
    *out = v;
    return true;
}

int bad(const char* flag, const char* text)
{
    std::fprintf(stderr, "make_test_avi: bad value for %s: %s\n", flag, text ? text : "(none)");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    test_avi_options o;
    const char* out = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long v = 0;
        auto number = [&](long long min, long long max) {
            if (!value || !parse_int(value, min, max, &v))
                return false;
            i++;
            return true;
        };
        if (!std::strcmp(flag, "--help") || !std::strcmp(flag, "-h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (!std::strcmp(flag, "--out")) {
            if (!value)
                return bad(flag, value);
            out = value;
            i++;
        } else if (!std::strcmp(flag, "--width")) {
            if (!number(1, 32767))
                return bad(flag, value);
            o.width = int32_t(v);
        } else if (!std::strcmp(flag, "--height")) {
            if (!number(1, 32767))
                return bad(flag, value);
            o.height = int32_t(v);
        } else if (!std::strcmp(flag, "--frames")) {
            if (!number(0, 0x7fffffff))
                return bad(flag, value);
            o.frames = int32_t(v);
        } else if (!std::strcmp(flag, "--scale")) {
            if (!number(1, 0xffffffffLL))
                return bad(flag, value);
            o.video_scale = uint32_t(v);
        } else if (!std::strcmp(flag, "--rate")) {
            if (!number(1, 0xffffffffLL))
                return bad(flag, value);
            o.video_rate = uint32_t(v);
        } else if (!std::strcmp(flag, "--bits")) {
            if (!number(8, 32))
                return bad(flag, value);
            o.bits = int(v);
        } else if (!std::strcmp(flag, "--empty-frame")) {
            if (!number(0, 0x7fffffff))
                return bad(flag, value);
            o.empty_frames.push_back(int32_t(v));
        } else if (!std::strcmp(flag, "--audio-samples")) {
            if (!number(0, 0x7fffffffLL))
                return bad(flag, value);
            o.audio_samples = v;
        } else if (!std::strcmp(flag, "--audio-chunk")) {
            if (!number(1, 0x3fffffffLL))
                return bad(flag, value);
            o.audio_chunk = v;
        } else if (!std::strcmp(flag, "--rcframe")) {
            int l, t, r, b;
            char tail;
            if (!value || std::sscanf(value, "%d,%d,%d,%d%c", &l, &t, &r, &b, &tail) != 4)
                return bad(flag, value);
            o.has_rcframe = true;
            o.rcframe[0] = int16_t(l);
            o.rcframe[1] = int16_t(t);
            o.rcframe[2] = int16_t(r);
            o.rcframe[3] = int16_t(b);
            i++;
        } else if (!std::strcmp(flag, "--audio-first")) {
            o.audio_first = true;
        } else if (!std::strcmp(flag, "--third-stream")) {
            o.third_stream = true;
        } else if (!std::strcmp(flag, "--no-audio")) {
            o.audio = false;
        } else if (!std::strcmp(flag, "--no-video")) {
            o.video = false;
        } else if (!std::strcmp(flag, "--top-down")) {
            o.top_down = true;
        } else if (!std::strcmp(flag, "--empty-rcframe")) {
            o.empty_rcframe = true;
        } else {
            std::fprintf(stderr, "make_test_avi: unknown option %s (see --help)\n", flag);
            return 2;
        }
    }
    if (!out) {
        std::fputs("make_test_avi: --out FILE is required (see --help)\n", stderr);
        return 2;
    }
    std::string error;
    if (!write_test_avi(out, o, &error)) {
        std::fprintf(stderr, "make_test_avi: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
