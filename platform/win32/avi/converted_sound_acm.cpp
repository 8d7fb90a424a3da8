// One audio stream's sound converted with the Audio Compression Manager to the slices' format, in
// one step or through PCM of the stream's own rate. Conversion runs in order from the start of the
// stream, so a sample is the same however it is reached; the samples converted last stay in a
// window for steps back, and reads before it convert again from the start.
#include "platform/win32/avi/converted_sound_acm.h"

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/slice_format.h"
#include "platform/win32/avi/chunk_reader.h"

namespace {

constexpr int64_t window_samples = int64_t(1) << 19;  // about 16 s

struct acm_stage {
    HACMSTREAM handle = nullptr;
    std::vector<unsigned char> input;   // bytes not yet converted
    std::vector<unsigned char> output;  // room for what a conversion gives
    bool started = false;
};

}  // namespace

struct converted_sound {
    PAVISTREAM source = nullptr;  // the library's stream, or
    chunk_reader* chunks = nullptr;  // the stream's stored chunks
    uint64_t next_byte = 0;          // read from the chunks: the next byte to convert
    LONG end = 0;                 // the first sample not to be read: the stored ones end there
    std::vector<unsigned char> format;  // the stream's own WAVEFORMATEX
    std::vector<std::vector<unsigned char>> steps;  // formats between it and the slices'
    std::vector<acm_stage> stages;
    LONG next_block = 0;  // the stream's next sample to convert
    bool finished = false;
    std::vector<int16_t> window;  // converted samples window_first..
    int64_t window_first = 0;
};

namespace {


const WAVEFORMATEX* wave(const std::vector<unsigned char>& format)
{
    return reinterpret_cast<const WAVEFORMATEX*>(format.data());
}

std::vector<unsigned char> record_of(const WAVEFORMATEX& f)
{
    std::vector<unsigned char> r(sizeof f);
    std::memcpy(r.data(), &f, sizeof f);
    return r;
}

// The stream's format record, with room for a full WAVEFORMATEX; empty if it has none.
std::vector<unsigned char> stream_format(PAVISTREAM source)
{
    LONG size = 0;
    if (AVIStreamReadFormat(source, 0, nullptr, &size) != 0 || size <= 0 || size > 65536)
        return {};
    std::vector<unsigned char> format(size_t(size) + sizeof(WAVEFORMATEX), 0);
    if (AVIStreamReadFormat(source, 0, format.data(), &size) != 0 || size < 14)
        return {};
    return format;
}

void close_stages(converted_sound* s)
{
    for (acm_stage& stage : s->stages)
        if (stage.handle)
            acmStreamClose(stage.handle, 0);
    s->stages.clear();
}

// Opens one converter for each step of `s->steps`; false if any step has none.
bool open_stages(converted_sound* s)
{
    close_stages(s);
    for (size_t i = 0; i + 1 < s->steps.size(); i++) {
        acm_stage stage;
        auto* from = const_cast<WAVEFORMATEX*>(wave(s->steps[i]));
        auto* to = const_cast<WAVEFORMATEX*>(wave(s->steps[i + 1]));
        if (acmStreamOpen(&stage.handle, nullptr, from, to, nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME) != 0) {
            close_stages(s);
            return false;
        }
        s->stages.push_back(std::move(stage));
    }
    return true;
}

// The PCM a decoder of `f` suggests, or 16-bit PCM of its rate and channels.
std::vector<unsigned char> decoded_pcm(const WAVEFORMATEX* f)
{
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, f->nChannels, f->nSamplesPerSec, 0, 0, 16, 0};
    if (acmFormatSuggest(nullptr, const_cast<WAVEFORMATEX*>(f), &pcm, sizeof pcm,
                         ACM_FORMATSUGGESTF_WFORMATTAG) != 0) {
        pcm = {WAVE_FORMAT_PCM, f->nChannels, f->nSamplesPerSec, 0, 0, 16, 0};
    }
    pcm.nBlockAlign = WORD(pcm.nChannels * pcm.wBitsPerSample / 8);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    pcm.cbSize = 0;
    return record_of(pcm);
}

// Finds a way from the stream's format to the slices' rate and sample size with the stream's channels:
// directly, or through the PCM a decoder of the format gives. The channels are mixed here, in
// equal parts, so that a tone in both channels keeps its level whatever the converter does.
bool find_steps(converted_sound* s)
{
    const std::vector<unsigned char> pcm = decoded_pcm(wave(s->format));
    WAVEFORMATEX target = *wave(pcm);
    target.wBitsPerSample = 8 * slice_sample_bytes;
    target.nSamplesPerSec = slice_rate;
    target.nBlockAlign = WORD(target.nChannels * slice_sample_bytes);
    target.nAvgBytesPerSec = slice_rate * target.nBlockAlign;
    const std::vector<std::vector<std::vector<unsigned char>>> ways = {
        {s->format, record_of(target)},
        {s->format, pcm, record_of(target)},
    };
    for (const auto& way : ways) {
        s->steps = way;
        if (target.nChannels > 0 && open_stages(s))
            return true;
    }
    s->steps.clear();
    return false;
}

// Mixes the channels of 16-bit PCM frames into mono, appending to the window.
void append_mixed(converted_sound* s, const std::vector<unsigned char>& pcm)
{
    const int channels = std::max<int>(wave(s->steps.back())->nChannels, 1);
    const size_t frames = pcm.size() / (2 * size_t(channels));
    const size_t old = s->window.size();
    s->window.resize(old + frames);
    for (size_t i = 0; i < frames; i++) {
        int sum = 0;
        for (int c = 0; c < channels; c++) {
            int16_t v;
            std::memcpy(&v, pcm.data() + (i * channels + c) * 2, 2);
            sum += v;
        }
        s->window[old + i] = int16_t(sum / channels);
    }
}

// Converts what stage `i` holds and hands the result on; `end` converts the last of it too.
void run_stage(converted_sound* s, size_t i, bool end, std::vector<unsigned char>* out)
{
    acm_stage& stage = s->stages[i];
    const DWORD have = DWORD(stage.input.size());
    // Room for what the input can become: 16-bit PCM from the densest coding. (Asking the
    // converter instead divides by zero in some of them on formats they accept.)
    std::vector<unsigned char>& converted = stage.output;
    converted.resize(std::max<size_t>(size_t(have) * 64 + 65536, converted.size()));
    stage.input.resize(have + 16);  // converters never see a null source
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof header;
    header.pbSrc = stage.input.data();
    header.cbSrcLength = have;
    header.pbDst = converted.data();
    header.cbDstLength = DWORD(converted.size());
    DWORD flags = end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    if (!stage.started)
        flags |= ACM_STREAMCONVERTF_START;
    stage.input.resize(have);
    if (acmStreamPrepareHeader(stage.handle, &header, 0) != 0) {
        stage.input.clear();
        return;
    }
    const bool converted_ok = acmStreamConvert(stage.handle, &header, flags) == 0;
    acmStreamUnprepareHeader(stage.handle, &header, 0);
    stage.started = true;
    // What a converter refuses is dropped: silence, never the stored bytes.
    const DWORD used = converted_ok ? std::min(header.cbSrcLengthUsed, have) : have;
    stage.input.erase(stage.input.begin(), stage.input.begin() + used);
    if (converted_ok)
        out->insert(out->end(), converted.begin(),
                    converted.begin() + std::min<DWORD>(header.cbDstLengthUsed, DWORD(converted.size())));
}

// Reads the next tenth of a second of the stream's chunks onto the first stage, in whole blocks
// of the format, as one run of bytes whatever the chunks' sizes; false at the end.
bool read_chunks(converted_sound* s)
{
    const WAVEFORMATEX* f = wave(s->format);
    const uint64_t block = std::max<uint64_t>(f->nBlockAlign, 1);
    const uint64_t tenth = std::max<uint64_t>(f->nAvgBytesPerSec / 10 / block, 1) * block;
    const uint64_t want = std::min<uint64_t>(tenth, 64 << 20);
    std::vector<unsigned char>& input = s->stages[0].input;
    const size_t old = input.size();
    input.resize(old + size_t(want));
    const uint64_t got = read_chunk_bytes(s->chunks, s->next_byte, input.data() + old, want);
    input.resize(old + size_t(got));
    s->next_byte += got;
    return got > 0;
}

// Reads the stream's next stored samples (about a tenth of a second) onto the first stage;
// false at the end of the stream.
bool read_source(converted_sound* s)
{
    if (s->chunks)
        return read_chunks(s);
    const WAVEFORMATEX* f = wave(s->format);
    const LONG block = std::max<LONG>(f->nBlockAlign, 1);
    AVISTREAMINFOA info = {};
    AVIStreamInfoA(s->source, &info, sizeof info);
    // Blocks of varying size come one at a time.
    const LONG want = std::min<LONG>(
        info.dwSampleSize == 0 ? 1 : std::max<LONG>(LONG(f->nAvgBytesPerSec / 10) / block, 1),
        s->end - s->next_block);
    LONG bytes = 0;
    LONG samples = 0;
    // Asked without a buffer, the library tells the bytes the read needs.
    if (s->next_block >= s->end ||
        AVIStreamRead(s->source, s->next_block, want, nullptr, 0, &bytes, nullptr) != 0 ||
        bytes <= 0 || bytes > (64 << 20))
        return false;
    std::vector<unsigned char> data(static_cast<size_t>(bytes));
    if (AVIStreamRead(s->source, s->next_block, want, data.data(), bytes, &bytes, &samples) != 0 ||
        bytes <= 0)
        return false;
    // Wine's library reads MP3 as a byte stream in blocks of the format's block size and counts
    // none of them as samples: the next read goes on from the next block.
    if (samples <= 0)
        samples = want;
    s->next_block += samples;
    s->stages[0].input.insert(s->stages[0].input.end(), data.begin(), data.begin() + bytes);
    return true;
}

// Converts the next piece of the stream onto the window; false once everything is converted.
bool convert_more(converted_sound* s)
{
    if (s->finished)
        return false;
    const bool end = !read_source(s);
    std::vector<unsigned char> carried;
    for (size_t i = 0; i < s->stages.size(); i++) {
        std::vector<unsigned char> out;
        if (i > 0)
            s->stages[i].input.insert(s->stages[i].input.end(), carried.begin(), carried.end());
        run_stage(s, i, end, &out);
        carried.swap(out);
    }
    append_mixed(s, carried);
    s->finished = end;
    return true;
}

// Starts converting the stream again from its beginning.
void restart(converted_sound* s)
{
    open_stages(s);
    s->next_block = s->source ? AVIStreamStart(s->source) : 0;
    s->next_byte = 0;
    s->finished = false;
    s->window.clear();
    s->window_first = 0;
}

// Drops the window's oldest samples, keeping `keep` on and at most a window's worth.
void trim(converted_sound* s, int64_t keep)
{
    const int64_t excess = int64_t(s->window.size()) - window_samples;
    const int64_t drop = std::min(std::max<int64_t>(excess, 0), keep - s->window_first);
    if (drop < window_samples / 4 && excess < window_samples / 2)
        return;
    s->window.erase(s->window.begin(), s->window.begin() + std::max<int64_t>(drop, 0));
    s->window_first += std::max<int64_t>(drop, 0);
}

}  // namespace

namespace {

// Finds the conversion for the stream's format; a stream whose first stored samples cannot be
// read has no sound to convert.
converted_sound* start_sound(converted_sound* s)
{
    if (s->format.empty() || !find_steps(s) || !read_source(s)) {
        converted_sound_close(s);
        return nullptr;
    }
    restart(s);
    return s;
}

}  // namespace

converted_sound* converted_sound_open(IAVIStream* source, int32_t end)
{
    auto* s = new converted_sound;
    s->source = source;
    s->end = std::min<LONG>(AVIStreamEnd(source), end);
    s->format = stream_format(source);
    return start_sound(s);
}

converted_sound* converted_sound_open_chunks(chunk_reader* chunks,
                                            const std::vector<uint8_t>& format)
{
    auto* s = new converted_sound;
    s->chunks = chunks;
    // With room for a full WAVEFORMATEX behind a shorter stored record.
    if (format.size() >= 14) {
        s->format.assign(format.begin(), format.end());
        s->format.resize(format.size() + sizeof(WAVEFORMATEX), 0);
    }
    return start_sound(s);
}

int64_t converted_sound_read(converted_sound* s, int64_t first, int64_t count, void* out)
{
    if (s->stages.empty())
        return 0;
    if (first < s->window_first)
        restart(s);
    // Keeps half a window before the read, ready for steps back.
    const int64_t keep = std::max<int64_t>(first - window_samples / 2, 0);
    while (s->window_first + int64_t(s->window.size()) < first + count) {
        if (!convert_more(s))
            break;
        trim(s, std::min(keep, first));
    }
    const int64_t have = s->window_first + int64_t(s->window.size()) - first;
    const int64_t n = std::clamp<int64_t>(have, 0, count);
    if (n > 0)
        std::memcpy(out, s->window.data() + (first - s->window_first), size_t(n) * 2);
    return n;
}

void converted_sound_close(converted_sound* s)
{
    close_stages(s);
    delete s;
}
