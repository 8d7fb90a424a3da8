// Broken and hostile files through the AVI file service: lengths beyond the stored frames, files
// cut short, missing and OpenDML-style indexes, absurd picture and sample sizes. Nothing crashes,
// nothing is asked of a decoder beyond what the file holds, nothing huge is decoded.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/avi_checks/avi_chunk_count.h"
#include "platform/linux/avi/ffmpeg_input.h"
#include "platform/linux/avi/video_frames.h"
#include "tests/linux/avi_test_clips.h"

namespace {

using bytes = std::vector<uint8_t>;

// Offset of the body of the n-th chunk `tag` in file order.
size_t body_of(const bytes& data, const char* tag, int n = 0)
{
    for (size_t at = 0; at + 8 <= data.size(); at++) {
        if (std::memcmp(&data[at], tag, 4) == 0 && n-- == 0)
            return at + 8;
    }
    ADD_FAILURE() << "no chunk " << tag;
    return 0;
}

size_t last_of(const bytes& data, const char* tag)
{
    for (size_t at = data.size() - 4; at > 0; at--)
        if (std::memcmp(&data[at], tag, 4) == 0)
            return at;
    return 0;
}

void put32(bytes& data, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        data[at + i] = uint8_t(v >> (8 * i));
}

// The process's peak resident memory so far.
long peak_memory_kb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

uint32_t get32(const bytes& data, size_t at)
{
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
           uint32_t(data[at + 3]) << 24;
}

void put16(bytes& data, size_t at, uint16_t v)
{
    data[at] = uint8_t(v);
    data[at + 1] = uint8_t(v >> 8);
}

void append(bytes& data, const char* tag, uint32_t size)
{
    data.insert(data.end(), tag, tag + 4);
    for (int i = 0; i < 4; i++)
        data.push_back(uint8_t(size >> (8 * i)));
}

class AviMalformed : public avi_scratch {
protected:
    static constexpr int32_t width = 8, height = 6, frames = 5;

    bytes base(const test_avi_options& extra = {})
    {
        test_avi_options o = extra;
        o.width = width;
        o.height = height;
        o.frames = frames;
        bytes out;
        EXPECT_TRUE(build_test_avi(o, &out));
        return out;
    }

    // An MJPEG clip made by the ffmpeg command: `frames` frames of one colour at `size`.
    std::string mjpeg_clip(const std::string& name, const char* size, int frames)
    {
        return ffmpeg(name, "-f lavfi -i color=size=" + std::string(size) + " -frames:v " +
                                std::to_string(frames) + " -c:v mjpeg -q:v 31 -an");
    }
    std::string write(const std::string& name, const bytes& data)
    {
        const std::string p = path(name);
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
        return p;
    }

    avi_chunk_counts count(const std::string& name, const bytes& data, bool* counted = nullptr)
    {
        avi_chunk_counts c;
        const bool ok = count_avi_chunks(write(name, data).c_str(), &c);
        if (counted)
            *counted = ok;
        return c;
    }
};

TEST_F(AviMalformed, ChunksAreCountedInTheIndexOrByWalkingTheFile)
{
    test_avi_options dropped;
    dropped.empty_frames = {1, 4};
    const bytes with_index = base(dropped);
    const size_t idx1 = last_of(with_index, "idx1");
    const bytes without_index(with_index.begin(), with_index.begin() + long(idx1));
    for (const bytes* data : {&with_index, &without_index}) {
        bool counted = false;
        const avi_chunk_counts c = count("count.avi", *data, &counted);
        EXPECT_TRUE(counted);
        EXPECT_EQ(c.chunks[0], uint32_t(frames)) << "dropped frames are frames too";
        EXPECT_EQ(c.chunks[1], uint32_t(frames)) << "one audio chunk per frame";
        EXPECT_EQ(c.chunks[2], 0u);
        EXPECT_EQ(c.file_bytes, data->size());
    }

    // Cut inside frame 3, with no index: the partial chunk holds no frame.
    size_t cut = body_of(without_index, "movi");
    for (int k = 0; k <= 3; k++)
        cut = body_of(without_index, "00db", k);
    const bytes cut_short(without_index.begin(), without_index.begin() + long(cut) + 10);
    EXPECT_EQ(count("cut.avi", cut_short).chunks[0], 3u);

    // Sizes that lie: the walk stops at the end of the file, whatever they claim.
    bytes lying = without_index;
    put32(lying, body_of(lying, "movi") - 12, 0xffffffffu);  // the movi list's size
    put32(lying, 4, 0xfffffff0u);
    EXPECT_EQ(count("lying.avi", lying).chunks[0], uint32_t(frames));
    bytes huge_chunk = without_index;
    put32(huge_chunk, body_of(huge_chunk, "00db", 2) - 4, 0x7fffffffu);
    EXPECT_EQ(count("huge_chunk.avi", huge_chunk).chunks[0], 2u);
}

// An OpenDML file as capture programs write them: a super index in the stream's header list,
// and a standard index at the end of each part's movi list, listing the part's chunks.
TEST_F(AviMalformed, OpenDmlFilesAreCountedThroughTheirIndexes)
{
    const int per_part[2] = {2, 3};
    bytes file;
    size_t riff_size[2], movi_size[2], ix_at[2], entry_at[2];
    auto put = [&file](uint64_t v, int n) {
        for (int i = 0; i < n; i++)
            file.push_back(i < 8 ? uint8_t(v >> (8 * i)) : 0);  // wider fields are zero-filled
    };
    append(file, "RIFF", 0);
    riff_size[0] = file.size() - 4;
    file.insert(file.end(), {'A', 'V', 'I', ' '});
    append(file, "LIST", 4 + 12 + 8 + 24 + 2 * 16);
    file.insert(file.end(), {'h', 'd', 'r', 'l'});
    append(file, "LIST", 4 + 8 + 24 + 2 * 16);
    file.insert(file.end(), {'s', 't', 'r', 'l'});
    append(file, "indx", 24 + 2 * 16);
    put(4, 2), put(0, 1), put(0, 1), put(2, 4), file.insert(file.end(), {'0', '0', 'd', 'b'});
    put(0, 12);
    entry_at[0] = file.size();
    put(0, 16);
    entry_at[1] = file.size();
    put(0, 16);
    for (int part = 0; part < 2; part++) {
        if (part == 1) {
            append(file, "RIFF", 0);
            riff_size[1] = file.size() - 4;
            file.insert(file.end(), {'A', 'V', 'I', 'X'});
        }
        append(file, "LIST", 0);
        movi_size[part] = file.size() - 4;
        file.insert(file.end(), {'m', 'o', 'v', 'i'});
        for (int k = 0; k < per_part[part]; k++) {
            append(file, "00db", 4);
            put(0, 4);
        }
        ix_at[part] = file.size();
        append(file, "ix00", uint32_t(24 + 8 * per_part[part]));
        put(2, 2), put(0, 1), put(1, 1), put(uint32_t(per_part[part]), 4);
        file.insert(file.end(), {'0', '0', 'd', 'b'});
        put(0, 12);
        for (int k = 0; k < per_part[part]; k++)
            put(uint32_t(8 + 12 * k), 4), put(4, 4);
        put32(file, movi_size[part], uint32_t(file.size() - movi_size[part] - 4));
        put32(file, riff_size[part], uint32_t(file.size() - riff_size[part] - 4));
        put32(file, entry_at[part], uint32_t(ix_at[part]));
        put32(file, entry_at[part] + 8, uint32_t(8 + 24 + 8 * per_part[part]));
    }
    avi_chunk_counts c = count("odml_indexed.avi", file);
    EXPECT_EQ(c.chunks[0], 5u);
    EXPECT_TRUE(c.from_index);

    // A super index pointing at something else: the parts are walked instead.
    put32(file, entry_at[1], uint32_t(ix_at[1] - 8));
    c = count("odml_bad_index.avi", file);
    EXPECT_EQ(c.chunks[0], 5u);
    EXPECT_FALSE(c.from_index);
}

TEST_F(AviMalformed, RecordListsPaletteChangesAndOpenDmlParts)
{
    // A hand-made movi: two "rec " lists of a frame and a sound, a palette change, an index chunk.
    bytes movi;
    for (int k = 0; k < 2; k++) {
        append(movi, "LIST", 4 + 8 + 4 + 8 + 2);
        movi.insert(movi.end(), {'r', 'e', 'c', ' '});
        append(movi, "00dc", 4);
        movi.insert(movi.end(), 4, 0);
        append(movi, "01wb", 2);
        movi.insert(movi.end(), 2, 0);
    }
    append(movi, "00pc", 4);
    movi.insert(movi.end(), 4, 0);
    append(movi, "ix00", 0);
    bytes file;
    append(file, "RIFF", uint32_t(4 + 12 + movi.size()));
    file.insert(file.end(), {'A', 'V', 'I', ' '});
    append(file, "LIST", uint32_t(4 + movi.size()));
    file.insert(file.end(), {'m', 'o', 'v', 'i'});
    file.insert(file.end(), movi.begin(), movi.end());
    const avi_chunk_counts c = count("rec.avi", file);
    EXPECT_EQ(c.chunks[0], 2u);
    EXPECT_EQ(c.chunks[1], 2u);

    // An AVIX part after a clip with an idx1: its frames count too, so the file is walked.
    bytes odml = base();
    append(odml, "RIFF", 4 + 12 + 3 * 12);
    odml.insert(odml.end(), {'A', 'V', 'I', 'X'});
    append(odml, "LIST", 4 + 3 * 12);
    odml.insert(odml.end(), {'m', 'o', 'v', 'i'});
    for (int k = 0; k < 3; k++) {
        append(odml, "00db", 4);
        odml.insert(odml.end(), 4, 0);
    }
    EXPECT_EQ(count("odml.avi", odml).chunks[0], uint32_t(frames + 3));

    bool counted = true;
    const bytes text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'A', 'V', 'I', ' ', '!', '\n'};
    EXPECT_EQ(count("text.avi", text, &counted).file_bytes, text.size());
    EXPECT_FALSE(counted);
    avi_chunk_counts none;
    EXPECT_FALSE(count_avi_chunks(path("missing.avi").c_str(), &none));
    EXPECT_EQ(none.file_bytes, 0u);
}

TEST_F(AviMalformed, LengthsBeyondTheStoredFramesAreHeldToThem)
{
    const bytes clip = base();
    const size_t strh = body_of(clip, "strh", 0);
    size_t cut = body_of(clip, "movi");
    for (int k = 0; k <= 3; k++)
        cut = body_of(clip, "00db", k);

    struct variant {
        const char* name;
        bytes data;
        uint32_t length;
    };
    std::vector<variant> variants;
    for (uint32_t claimed : {0x7fffffffu, 0xffffffffu, uint32_t(frames + 1)}) {
        bytes d = clip;
        put32(d, strh + 32, claimed);
        variants.push_back({"claims more", d, uint32_t(frames)});
    }
    variants.push_back({"cut in frame 3", bytes(clip.begin(), clip.begin() + long(cut) + 20), 3});

    for (const variant& v : variants) {
        SCOPED_TRACE(v.name);
        open_clip c(write("long.avi", v.data));
        ASSERT_EQ(c.count, 2u);
        EXPECT_EQ(c.info[0].length, v.length);
        frame_decoder_handle d(c.streams[0]);
        ASSERT_NE(d.d, nullptr);
        for (int32_t k = 0; k < int32_t(v.length); k++)
            EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, width, height, 24));
        for (int32_t k : {int32_t(v.length), int32_t(v.length) + 1, 1 << 20, INT32_MAX, -1})
            EXPECT_EQ(avi_frame_get(d.d, k), nullptr) << "frame " << k;
        // Going back after asking beyond still works.
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 0), 0, width, height, 24));
    }

    // An index that is short itself, empty or cut after two frames: the file is walked instead.
    const size_t idx1 = last_of(clip, "idx1");
    bytes empty_index(clip.begin(), clip.begin() + long(idx1) + 8);
    put32(empty_index, idx1 + 4, 0);
    bytes cut_index(clip.begin(), clip.begin() + long(body_of(clip, "idx1")) + 16 * 5);
    put32(cut_index, idx1 + 4, 16 * 5);
    for (const bytes* data : {&empty_index, &cut_index}) {
        open_clip c(write("short_index.avi", *data));
        EXPECT_EQ(c.info[0].length, uint32_t(frames));
        frame_decoder_handle d(c.streams[0]);
        for (int32_t k : {0, frames - 1, 2})
            EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, width, height, 24));
    }

    // A header claiming fewer frames than stored keeps its length; the rest stays reachable.
    bytes shorter = clip;
    put32(shorter, strh + 32, 2);
    open_clip c(write("short.avi", shorter));
    EXPECT_EQ(c.info[0].length, 2u);
    frame_decoder_handle d(c.streams[0]);
    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, frames - 1), frames - 1, width, height, 24));
}

TEST_F(AviMalformed, AbsurdPictureSizesGetNoDecoder)
{
    const bytes clip = base();
    const size_t strh = body_of(clip, "strh", 0);
    const size_t strf = body_of(clip, "strf", 0);
    bytes huge = clip;
    put32(huge, strf + 4, 0x7fffffffu);
    put32(huge, strf + 8, 0x7fffffffu);
    bytes negative = clip;
    put32(negative, strf + 4, uint32_t(-width));
    put32(negative, strf + 8, uint32_t(-height));
    for (int i = 0; i < 4; i++)
        put16(negative, strh + 48 + 2 * i, 0);
    bytes wide_rect = clip;
    const int16_t rect[4] = {-32768, -32768, 32767, 32767};
    for (int i = 0; i < 4; i++)
        put16(wide_rect, strh + 48 + 2 * i, uint16_t(rect[i]));

    {
        open_clip c(write("huge.avi", huge));
        ASSERT_EQ(c.count, 2u);
        EXPECT_EQ(c.info[0].frame.right, width);  // the stored rectangle, not the format's size
        EXPECT_EQ(avi_frame_open(c.streams[0]), nullptr);
        int16_t s[4];
        int32_t samples = 0;
        EXPECT_EQ(avi_stream_read(c.streams[1], 0, 4, s, sizeof s, nullptr, &samples), 0);
        EXPECT_EQ(samples, 4);
    }
    {
        open_clip c(write("negative.avi", negative));
        ASSERT_EQ(c.count, 2u);
        EXPECT_EQ(c.info[0].frame.right - c.info[0].frame.left, 0);
        EXPECT_EQ(avi_frame_open(c.streams[0]), nullptr);
    }
    {
        // The rectangle is only reported; the pictures are the stored ones.
        open_clip c(write("wide_rect.avi", wide_rect));
        EXPECT_EQ(c.info[0].frame.right - c.info[0].frame.left, 65535);
        frame_decoder_handle d(c.streams[0]);
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 2), 2, width, height, 24));
    }
}

bytes read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes `side` x `side` into every JPEG frame header (SOF0) of the file; returns how many.
int claim_picture_size(bytes& data, int side)
{
    int markers = 0;
    for (size_t at = 0; at + 9 < data.size(); at++) {
        if (data[at] == 0xff && data[at + 1] == 0xc0) {
            put16(data, at + 5, uint16_t(side << 8 | side >> 8));  // height, big-endian
            put16(data, at + 7, uint16_t(side << 8 | side >> 8));  // width
            markers++;
        }
    }
    return markers;
}

TEST_F(AviMalformed, PicturesFarLargerThanDeclaredOrShowableAreNotDecoded)
{
    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    // A 16 x 16 clip whose frames then claim 16000 x 16000 (a gigabyte each, more than the window
    // can show) or 5000 x 5000 (25 Mpixels: showable, but 100000 times what the stream declares).
    const std::string small = mjpeg_clip("small.avi", "16x16", 2);
    {
        open_clip c(small);
        frame_decoder_handle d(c.streams[0]);
        ASSERT_NE(avi_frame_get(d.d, 0), nullptr) << "the unchanged clip decodes";
    }
    for (int side : {16000, 5000}) {
        SCOPED_TRACE(side);
        bytes data = read_all(small);
        ASSERT_EQ(claim_picture_size(data, side), 2);
        open_clip c(write("claims.avi", data));
        frame_decoder_handle d(c.streams[0]);
        for (int32_t k = 0; k < 2; k++)
            EXPECT_EQ(avi_frame_get(d.d, k), nullptr);
    }

    // A real 4800 x 4800 picture (23 Mpixels) decodes when the stream says so, and not when the
    // stream claims 16 x 16.
    const std::string large = mjpeg_clip("large.avi", "4800x4800", 1);
    {
        open_clip c(large);
        frame_decoder_handle d(c.streams[0]);
        const bitmap_info_header* picture = avi_frame_get(d.d, 0);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->biWidth, 4800);
    }
    bytes hiding = read_all(large);
    const size_t strf = body_of(hiding, "strf", 0);
    put32(hiding, strf + 4, 16);
    put32(hiding, strf + 8, 16);
    open_clip c(write("hiding.avi", hiding));
    frame_decoder_handle d(c.streams[0]);
    EXPECT_EQ(avi_frame_get(d.d, 0), nullptr);
}

TEST_F(AviMalformed, DamagedFramesAreNotLookedForToTheEndOfTheFile)
{
    // How far a request reads is counted in the video stream's own positions: audio the demuxer
    // reads along (its positions count samples, a file this short is read as non-interleaved)
    // does not end a request early.
    test_avi_options o;
    o.width = 40;
    o.height = 30;
    o.frames = 4;
    o.audio_samples = 1067;
    {
        open_clip c(clip("audio_ahead.avi", o));
        frame_decoder_handle d(c.streams[0]);
        for (int32_t k = 0; k < o.frames; k++)
            EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, k), k, o.width, o.height, 24));
    }

    if (!have_ffmpeg_cli())
        GTEST_SKIP() << "the ffmpeg command-line tool is not installed";
    // MPEG-4 with a keyframe every 12 frames; from frame 100 on, every frame's data is zeros.
    bytes data = read_all(ffmpeg("clean.avi", "-f lavfi -i testsrc=size=160x120:rate=30,"
                                              "noise=alls=40:allf=t -frames:v 600 -c:v mpeg4 "
                                              "-g 12 -an"));
    ASSERT_FALSE(data.empty());
    int frame = 0;
    const size_t end = last_of(data, "idx1");
    for (size_t at = body_of(data, "movi") - 4; at + 8 <= end;) {
        const uint32_t size = get32(data, at + 4);
        if (std::memcmp(&data[at], "LIST", 4) == 0) {
            at += 12;
            continue;
        }
        if (data[at + 2] == 'd' && frame++ >= 100)
            std::memset(&data[at + 8], 0, size);
        at += 8 + size + (size & 1);
    }
    ASSERT_EQ(frame, 600);
    const std::string damaged = write("damaged.avi", data);

    video_frames v;
    ASSERT_TRUE(video_frames_open(&v, open_avi_input(damaged.c_str(), false), 0, 600, 1));
    int64_t pts = -1;
    EXPECT_NE(video_frames_decode(&v, 99, &pts), nullptr);
    // Stepping back through the damaged part: each frame is looked for near where it is stored,
    // not on to the end of the file, which would read the damaged part once per step.
    const int64_t before = v.input->pb->bytes_read;
    for (int64_t k = 200; k >= 100; k--)
        EXPECT_EQ(video_frames_decode(&v, k, &pts), nullptr) << k;
    const int64_t read = v.input->pb->bytes_read - before;
    // Read through to the end for every step, it is six times the file; looked for nearby, less
    // than the file once.
    EXPECT_LT(read, 3 * int64_t(data.size())) << "read " << read << " bytes";
    video_frames_close(&v);
}

TEST_F(AviMalformed, AbsurdAudioFormatsReadSafely)
{
    const bytes clip = base();
    const size_t strh = body_of(clip, "strh", 1);
    const size_t strf = body_of(clip, "strf", 1);
    struct variant {
        const char* name;
        bytes data;
    };
    std::vector<variant> variants;
    bytes mp3 = clip;
    put16(mp3, strf, 0x55);
    variants.push_back({"format tag mp3", mp3});
    bytes no_align = clip;
    put16(no_align, strf + 12, 0);
    variants.push_back({"block align 0", no_align});
    bytes huge_sample = clip;
    put32(huge_sample, strh + 44, 0xffffffffu);
    put16(huge_sample, strf + 12, 0xffff);
    variants.push_back({"sample size 4 GB", huge_sample});
    bytes long_audio = clip;
    put32(long_audio, strh + 32, 0xffffffffu);
    variants.push_back({"length 4G", long_audio});
    bytes zero_rate = clip;
    put32(zero_rate, strh + 20, 0);
    put32(zero_rate, strh + 24, 0);
    variants.push_back({"scale and rate 0", zero_rate});

    for (const variant& v : variants) {
        SCOPED_TRACE(v.name);
        open_clip c(write("audio.avi", v.data));
        ASSERT_EQ(c.count, 2u);
        EXPECT_EQ(c.info[1].type, stream_type_audio);
        // The slice reads playback makes, in order, back, and far beyond the end.
        uint8_t slice[2134 + 16];
        for (int32_t frame : {0, 1, 4, 2, 5, 1000, 2012627}) {
            std::memset(slice, 0xa5, sizeof slice);
            int32_t got = -1;
            avi_stream_read(c.streams[1], frame * 1067, 2134, slice, 2134, &got, nullptr);
            EXPECT_GE(got, 0);
            EXPECT_LE(got, 2134);
            for (size_t i = 2134; i < sizeof slice; i++)
                ASSERT_EQ(slice[i], 0xa5) << "wrote past the buffer";
        }
        // The video is untouched by what the audio claims.
        frame_decoder_handle d(c.streams[0]);
        EXPECT_TRUE(dib_matches_clip(avi_frame_get(d.d, 4), 4, width, height, 24));
    }
    // Blocks of a megabyte, read into a buffer that holds some: whole blocks or nothing, and no
    // memory in proportion to the block size.
    bytes huge_blocks = clip;
    put32(huge_blocks, strh + 44, 1u << 20);
    put16(huge_blocks, strf + 12, 0);
    {
        const long peak_before = peak_memory_kb();
        open_clip c(write("huge_blocks.avi", huge_blocks));
        std::vector<uint8_t> buffer(3u << 20);
        int32_t got = -1;
        int32_t samples = -1;
        EXPECT_EQ(avi_stream_read(c.streams[1], 0, 3, buffer.data(), int32_t(buffer.size()), &got,
                                  &samples), 0);
        EXPECT_EQ(samples, 0) << "no block of a megabyte is stored";
        EXPECT_EQ(got, 0);
        EXPECT_LT(peak_memory_kb() - peak_before, 256 * 1024) << "peak memory grew";
    }
    // The stored bytes are what a plain 16-bit format reads back, even with a huge length.
    open_clip c(write("long_audio.avi", long_audio));
    EXPECT_EQ(c.info[1].length, 0xffffffffu);
    int16_t s[3];
    int32_t samples = 0;
    EXPECT_EQ(avi_stream_read(c.streams[1], 1067, 3, s, sizeof s, nullptr, &samples), 0);
    ASSERT_EQ(samples, 3);
    EXPECT_EQ(s[2], test_sample(1069));
}

TEST_F(AviMalformed, StreamCountsInHeadersAndHundredsOfStreams)
{
    // The main header's count means nothing: the stream lists are what count.
    bytes clip = base();
    put32(clip, body_of(clip, "avih") + 24, 0xffffffffu);
    {
        open_clip c(write("count.avi", clip));
        EXPECT_EQ(c.count, 2u);
    }
    // 150 more copies of the audio stream's list: every one is described, none breaks the video.
    bytes many = base();
    const size_t audio_list = body_of(many, "strh", 1) - 8 - 12;
    ASSERT_EQ(std::memcmp(&many[audio_list], "LIST", 4), 0);
    const size_t list_bytes = 8 + get32(many, audio_list + 4);
    const bytes list(many.begin() + long(audio_list), many.begin() + long(audio_list + list_bytes));
    for (int k = 0; k < 150; k++)
        many.insert(many.begin() + long(audio_list + list_bytes), list.begin(), list.end());
    put32(many, 16, get32(many, 16) + 150 * uint32_t(list_bytes));
    put32(many, 4, uint32_t(many.size() - 8));
    avi_file* f = nullptr;
    if (avi_file_open(&f, write("many.avi", many).c_str()) != 0)
        return;  // refusing so many streams is fine too
    avi_file_info fi{};
    avi_file_get_info(f, &fi);
    EXPECT_EQ(fi.streams, 152u);
    avi_stream* video = avi_file_get_stream(f, 0);
    avi_stream_info vi{};
    avi_stream_get_info(video, &vi);
    EXPECT_EQ(vi.length, uint32_t(frames));
    avi_frame_decoder* d = avi_frame_open(video);
    EXPECT_TRUE(dib_matches_clip(avi_frame_get(d, 3), 3, width, height, 24));
    for (uint32_t i = 1; i < fi.streams; i += 37) {
        avi_stream* s = avi_file_get_stream(f, i);
        int16_t buffer[8];
        avi_stream_read(s, 0, 8, buffer, sizeof buffer, nullptr, nullptr);
        avi_stream_release(s);
    }
    avi_frame_close(d);
    avi_stream_release(video);
    avi_file_release(f);
}

}  // namespace
