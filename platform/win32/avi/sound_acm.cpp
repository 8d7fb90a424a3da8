// The AVI file service's sound reads on Windows. Audio stored as the slices hold it (16-bit mono
// PCM at 32000 Hz) is read as stored; any other is converted with the Audio Compression Manager,
// in one step or through PCM of the stream's own rate. Conversion runs in order from the start
// of the stream, so a sample is the same however it is reached; the samples converted last stay
// in a window for steps back, and reads before it convert again from the start.
#include "platform/win32/avi/sound_acm.h"

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/avi_file.h"

namespace {

constexpr int64_t window_samples = int64_t(1) << 19;  // about 16 s

struct acm_stage {
    HACMSTREAM handle = nullptr;
    std::vector<unsigned char> input;   // bytes not yet converted
    std::vector<unsigned char> output;  // room for what a conversion gives
    bool started = false;
};

struct sound_state {
    bool stored = false;
    std::vector<unsigned char> format;  // the stream's own WAVEFORMATEX
    std::vector<std::vector<unsigned char>> steps;  // formats between it and the slices'
    std::vector<acm_stage> stages;
    LONG next_block = 0;  // the stream's next sample to convert
    bool finished = false;
    std::vector<int16_t> window;  // converted samples window_first..
    int64_t window_first = 0;
};

std::map<avi_stream*, std::unique_ptr<sound_state>> states;

PAVISTREAM win(avi_stream* stream)
{
    return sound_source(stream, nullptr);
}

// The first sample not to be read: the library's end, held to the stored samples.
LONG stream_end(avi_stream* stream)
{
    int32_t stored = 0;
    const PAVISTREAM source = sound_source(stream, &stored);
    return source ? std::min<LONG>(AVIStreamEnd(source), stored) : 0;
}

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
std::vector<unsigned char> stream_format(avi_stream* stream)
{
    LONG size = 0;
    if (!win(stream) || AVIStreamReadFormat(win(stream), 0, nullptr, &size) != 0 || size <= 0 ||
        size > 65536)
        return {};
    std::vector<unsigned char> format(size_t(size) + sizeof(WAVEFORMATEX), 0);
    if (AVIStreamReadFormat(win(stream), 0, format.data(), &size) != 0 || size < 14)
        return {};
    return format;
}

bool is_slice_format(const WAVEFORMATEX* f)
{
    return f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 && f->nSamplesPerSec == 32000 &&
           f->wBitsPerSample == 16;
}

void close_stages(sound_state* s)
{
    for (acm_stage& stage : s->stages)
        if (stage.handle)
            acmStreamClose(stage.handle, 0);
    s->stages.clear();
}

// Opens one converter for each step of `s->steps`; false if any step has none.
bool open_stages(sound_state* s)
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

// Finds a way from the stream's format to 16-bit PCM at 32000 Hz with the stream's channels:
// directly, or through the PCM a decoder of the format gives. The channels are mixed here, in
// equal parts, so that a tone in both channels keeps its level whatever the converter does.
bool find_steps(sound_state* s)
{
    const std::vector<unsigned char> pcm = decoded_pcm(wave(s->format));
    WAVEFORMATEX target = *wave(pcm);
    target.wBitsPerSample = 16;
    target.nSamplesPerSec = 32000;
    target.nBlockAlign = WORD(target.nChannels * 2);
    target.nAvgBytesPerSec = 32000 * target.nBlockAlign;
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
void append_mixed(sound_state* s, const std::vector<unsigned char>& pcm)
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
void run_stage(sound_state* s, size_t i, bool end, std::vector<unsigned char>* out)
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

// Reads the stream's next stored samples (about a tenth of a second) onto the first stage;
// false at the end of the stream.
bool read_source(avi_stream* stream, sound_state* s)
{
    const WAVEFORMATEX* f = wave(s->format);
    const LONG block = std::max<LONG>(f->nBlockAlign, 1);
    AVISTREAMINFOA info = {};
    AVIStreamInfoA(win(stream), &info, sizeof info);
    // Blocks of varying size come one at a time.
    const LONG want = std::min<LONG>(
        info.dwSampleSize == 0 ? 1 : std::max<LONG>(LONG(f->nAvgBytesPerSec / 10) / block, 1),
        stream_end(stream) - s->next_block);
    LONG bytes = 0;
    LONG samples = 0;
    // Asked without a buffer, the library tells the bytes the read needs.
    if (s->next_block >= stream_end(stream) ||
        AVIStreamRead(win(stream), s->next_block, want, nullptr, 0, &bytes, nullptr) != 0 ||
        bytes <= 0 || bytes > (64 << 20))
        return false;
    std::vector<unsigned char> data(static_cast<size_t>(bytes));
    if (AVIStreamRead(win(stream), s->next_block, want, data.data(), bytes, &bytes, &samples) != 0 ||
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
bool convert_more(avi_stream* stream, sound_state* s)
{
    if (s->finished)
        return false;
    const bool end = !read_source(stream, s);
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
void restart(avi_stream* stream, sound_state* s)
{
    open_stages(s);
    s->next_block = AVIStreamStart(win(stream));
    s->finished = false;
    s->window.clear();
    s->window_first = 0;
}

// Drops the window's oldest samples, keeping `keep` on and at most a window's worth.
void trim(sound_state* s, int64_t keep)
{
    const int64_t excess = int64_t(s->window.size()) - window_samples;
    const int64_t drop = std::min(std::max<int64_t>(excess, 0), keep - s->window_first);
    if (drop < window_samples / 4 && excess < window_samples / 2)
        return;
    s->window.erase(s->window.begin(), s->window.begin() + std::max<int64_t>(drop, 0));
    s->window_first += std::max<int64_t>(drop, 0);
}

int64_t read_converted(avi_stream* stream, sound_state* s, int64_t first, int64_t count, void* out)
{
    if (s->stages.empty())
        return 0;
    if (first < s->window_first)
        restart(stream, s);
    // Keeps half a window before the read, ready for steps back.
    const int64_t keep = std::max<int64_t>(first - window_samples / 2, 0);
    while (s->window_first + int64_t(s->window.size()) < first + count) {
        if (!convert_more(stream, s))
            break;
        trim(s, std::min(keep, first));
    }
    const int64_t have = s->window_first + int64_t(s->window.size()) - first;
    const int64_t n = std::clamp<int64_t>(have, 0, count);
    if (n > 0)
        std::memcpy(out, s->window.data() + (first - s->window_first), size_t(n) * 2);
    return n;
}

// A stream whose first stored samples the library cannot hand out has no sound to convert.
void check_readable(avi_stream* stream, sound_state* s)
{
    if (s->stages.empty())
        return;
    if (!read_source(stream, s))
        close_stages(s);
    else
        restart(stream, s);
}

sound_state* state_of(avi_stream* stream)
{
    auto found = states.find(stream);
    if (found != states.end())
        return found->second.get();
    auto s = std::make_unique<sound_state>();
    s->format = stream_format(stream);
    if (!s->format.empty()) {
        s->stored = is_slice_format(wave(s->format));
        if (!s->stored && find_steps(s.get()))
            check_readable(stream, s.get());
    }
    return (states[stream] = std::move(s)).get();
}

}  // namespace

void sound_forget(avi_stream* stream)
{
    if (!stream) {
        for (auto& entry : states)
            close_stages(entry.second.get());
        states.clear();
        return;
    }
    auto found = states.find(stream);
    if (found == states.end())
        return;
    close_stages(found->second.get());
    states.erase(found);
}

int avi_sound_open(avi_stream* stream)
{
    if (!stream)
        return -1;
    const sound_state* s = state_of(stream);
    return s->stored || !s->stages.empty() ? 0 : -1;
}

int avi_sound_read(avi_stream* stream, int32_t first, int32_t count, void* buffer,
                   int32_t* samples_read)
{
    if (samples_read)
        *samples_read = 0;
    if (!stream || !buffer || first < 0 || count < 0 || count > INT32_MAX / 2)
        return -1;
    sound_state* s = state_of(stream);
    if (s->stored) {
        // Byte for byte as stored: as many samples as the bytes of `count` 16-bit ones hold.
        int32_t bytes = 0;
        const int result = avi_stream_read(stream, first, count * 2, buffer, count * 2, &bytes, nullptr);
        if (samples_read)
            *samples_read = bytes / 2;
        return result;
    }
    if (s->stages.empty())
        return -1;
    const int64_t n = read_converted(stream, s, first, count, buffer);
    if (samples_read)
        *samples_read = int32_t(n);
    return 0;
}
