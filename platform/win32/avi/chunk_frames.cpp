#include "platform/win32/avi/chunk_frames.h"

#include <windows.h>
#include <vfw.h>

#include <cstdlib>
#include <cstring>

struct chunk_frames {
    chunk_reader* chunks = nullptr;
    HIC codec = nullptr;                // null for frames stored as plain bitmaps
    std::vector<uint8_t> input_format;  // the stored BITMAPINFO, its image size set per frame
    std::vector<uint8_t> frame;         // the packed DIB handed out: header, then rows
    int64_t shown = -1;                 // the frame the DIB holds, -1 for none
    int64_t decoded = -1;               // the last chunk the codec has been given
    bool picture_ok = false;            // whether the codec took the last picture it was given
    std::vector<uint8_t> data;
};

namespace {

BITMAPINFOHEADER* header_of(std::vector<uint8_t>& bytes)
{
    return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data());
}

size_t image_bytes(const BITMAPINFOHEADER& h)
{
    return size_t(dib_row_bytes(h.biWidth, h.biBitCount) * std::llabs(int64_t(h.biHeight)));
}

bool plain_bitmap(const BITMAPINFOHEADER& h)
{
    return h.biCompression == BI_RGB &&
           (h.biBitCount == 16 || h.biBitCount == 24 || h.biBitCount == 32);
}

// The last chunk at or before `index` that holds a picture; -1 if none does.
int64_t stored_picture(chunk_reader* chunks, int64_t index)
{
    for (int64_t k = index; k >= 0; k--)
        if (chunks->chunks[size_t(k)].size > 0)
            return k;
    return -1;
}

// Gives the codec chunk `k`; false if it cannot be read or the codec refuses it.
bool decode_chunk(chunk_frames* f, int64_t k)
{
    f->decoded = k;
    if (!read_chunk(f->chunks, k, &f->data))
        return f->picture_ok = false;
    if (f->data.empty())
        return true;  // nothing new: the picture stays
    BITMAPINFOHEADER* in = header_of(f->input_format);
    in->biSizeImage = DWORD(f->data.size());
    BITMAPINFOHEADER* out = header_of(f->frame);
    f->picture_ok = ICDecompress(f->codec, 0, in, f->data.data(), out,
                                 f->frame.data() + sizeof *out) == ICERR_OK;
    return f->picture_ok;
}

const bitmap_info_header* frame_header(chunk_frames* f, int64_t index)
{
    f->shown = index;
    return reinterpret_cast<const bitmap_info_header*>(f->frame.data());
}

}  // namespace

chunk_frames* chunk_frames_open(chunk_reader* chunks, const std::vector<uint8_t>& format,
                                uint32_t handler)
{
    if (format.size() < sizeof(BITMAPINFOHEADER))
        return nullptr;
    auto* f = new chunk_frames;
    f->chunks = chunks;
    f->input_format = format;
    BITMAPINFOHEADER* in = header_of(f->input_format);
    in->biSize = std::min<DWORD>(in->biSize, DWORD(format.size()));
    if (plain_bitmap(*in)) {
        f->frame.assign(sizeof(BITMAPINFOHEADER) + image_bytes(*in), 0);
        std::memcpy(f->frame.data(), in, sizeof(BITMAPINFOHEADER));
        header_of(f->frame)->biSize = sizeof(BITMAPINFOHEADER);
        header_of(f->frame)->biSizeImage = DWORD(image_bytes(*in));
        header_of(f->frame)->biClrUsed = 0;
        return f;
    }
    // The codec the stream names, else any that takes the format.
    f->codec = ICLocate(ICTYPE_VIDEO, handler, in, nullptr, ICMODE_DECOMPRESS);
    if (!f->codec && handler != in->biCompression)
        f->codec = ICLocate(ICTYPE_VIDEO, in->biCompression, in, nullptr, ICMODE_DECOMPRESS);
    BITMAPINFOHEADER out = {};
    // The codec's default output format, without a colour table: the frame is a packed DIB of
    // header and rows.
    const LONG need = f->codec ? LONG(ICDecompressGetFormatSize(f->codec, in)) : 0;
    std::vector<uint8_t> out_format(size_t(std::max<LONG>(need, LONG(sizeof out))), 0);
    if (!f->codec || ICDecompressGetFormat(f->codec, in, out_format.data()) != ICERR_OK) {
        chunk_frames_close(f);
        return nullptr;
    }
    std::memcpy(&out, out_format.data(), sizeof out);
    out.biSize = sizeof out;
    out.biClrUsed = 0;
    out.biSizeImage = DWORD(image_bytes(out));
    if (out.biWidth <= 0 || out.biHeight == 0 || out.biSizeImage == 0 ||
        ICDecompressBegin(f->codec, in, &out) != ICERR_OK) {
        chunk_frames_close(f);
        return nullptr;
    }
    f->frame.assign(sizeof out + out.biSizeImage, 0);
    std::memcpy(f->frame.data(), &out, sizeof out);
    return f;
}

const bitmap_info_header* chunk_frames_get(chunk_frames* f, int64_t index)
{
    if (!f || index < 0 || uint64_t(index) >= f->chunks->chunks.size())
        return nullptr;
    if (index == f->shown)
        return frame_header(f, index);
    const int64_t picture = stored_picture(f->chunks, index);
    if (picture < 0)
        return nullptr;
    if (!f->codec) {
        if (!read_chunk(f->chunks, picture, &f->data))
            return nullptr;
        const size_t rows = f->frame.size() - sizeof(BITMAPINFOHEADER);
        std::memset(f->frame.data() + sizeof(BITMAPINFOHEADER), 0, rows);
        std::memcpy(f->frame.data() + sizeof(BITMAPINFOHEADER), f->data.data(),
                    std::min(rows, f->data.size()));
        return frame_header(f, index);
    }
    // Frames depend on those before them: going on from the last one decoded, else from the
    // stream's start (a file without an index does not say which frames stand alone).
    int64_t from = f->decoded + 1;
    if (f->decoded < 0 || f->decoded > index) {
        ICDecompressEnd(f->codec);
        BITMAPINFOHEADER* out = header_of(f->frame);
        ICDecompressBegin(f->codec, header_of(f->input_format), out);
        from = 0;
        f->picture_ok = false;
    }
    for (int64_t k = from; k <= index; k++)
        decode_chunk(f, k);
    f->shown = -1;
    return f->picture_ok ? frame_header(f, index) : nullptr;
}

void chunk_frames_close(chunk_frames* f)
{
    if (!f)
        return;
    if (f->codec) {
        ICDecompressEnd(f->codec);
        ICClose(f->codec);
    }
    delete f;
}
