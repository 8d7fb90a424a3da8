// The console lines that describe the file and each frame, formatted exactly as printed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/avi_file.h"

std::string report_streams(uint32_t streams);              // "strs = 2 \n"
std::string report_video(const avi_stream_info& video);    // "vi_S=1001 vi_R=30000 vi_length=300 \n"
std::string report_size(int32_t h, int32_t w);             // "h = 240 w = 320\n"
std::string report_audio(const avi_stream_info& audio);    // "au_S=2 au_R=64000 au_length=320100 300(frame)\n"
std::string report_cnt(int32_t cnt);                       // "cnt = 307364\n"

// w * h * 4 + 164, wrapping as 32-bit arithmetic does.
int32_t frame_bytes_count(int32_t w, int32_t h);

// Composes the window title of one frame into `title`, reusing its storage:
// "BITMAPINFOHEADER@<frame address>,<pixel address> [<path>] frame <frame>/<length> ".
void compose_title(std::string& title, const void* frame_address, const void* pixel_address,
                   const char* path, int32_t frame, uint32_t length);
