#include "fuzz/opened_avi.h"

bool open_avi(const char* path, opened_avi* out)
{
    *out = opened_avi{};
    if (avi_file_open(&out->file, path) != 0)
        return false;
    avi_file_info file_info{};
    avi_file_get_info(out->file, &file_info);
    out->count = file_info.streams < opened_avi::max_streams ? file_info.streams
                                                              : opened_avi::max_streams;
    for (uint32_t i = 0; i < out->count; i++) {
        out->streams[i] = avi_file_get_stream(out->file, i);
        avi_stream_add_ref(out->streams[i]);
        avi_stream_get_info(out->streams[i], &out->infos[i]);
    }
    return true;
}

void close_avi(opened_avi* avi)
{
    avi_file_release(avi->file);
    for (uint32_t i = 0; i < avi->count; i++) {
        avi_stream_release(avi->streams[i]);
        avi_stream_release(avi->streams[i]);
    }
    *avi = opened_avi{};
}
