// Open to first frame presented: the work between the user's choice of a file and the first
// picture in the window, without the two questions the user answers in between. Needs an X
// display. Prints the time of each stage and the total.
//
// Usage: first_frame CLIP
//
// Stages, in the program's order: the file and its streams opened and described; the frame
// decoder opened; the window opened, cleared and shown (the display thread started, SDL's video
// set up, the window created); frame 0 decoded; frame 0 drawn into the window's image and
// presented. The present is
// asked of the display thread, which repaints when it takes the request; the title request
// that follows returns only after that, so the last stage ends with the repaint done.
// Afterwards it also times 300 title changes, which the frame loop makes once a frame in every
// mode: each returns once the display thread has set the title.
#include <chrono>
#include <cstdio>
#include <string>

#include "display/display.h"
#include "platform/avi_file.h"
#include "playback/report.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point* mark)
{
    const auto now = clock_type::now();
    const double ms = std::chrono::duration<double, std::milli>(now - *mark).count();
    *mark = now;
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: first_frame CLIP\n");
        return 2;
    }
    const auto start = clock_type::now();
    auto mark = start;

    avi_file* file = nullptr;
    if (avi_file_open(&file, argv[1]) != 0) {
        std::fprintf(stderr, "first_frame: cannot open %s\n", argv[1]);
        return 1;
    }
    avi_file_info fi{};
    avi_file_get_info(file, &fi);
    avi_stream* video = nullptr;
    avi_stream_info video_info{};
    avi_stream* others[8] = {};
    for (uint32_t i = 0; i < fi.streams && i < 8; i++) {
        avi_stream* s = avi_file_get_stream(file, i);
        avi_stream_info info{};
        avi_stream_get_info(s, &info);
        if (info.type == stream_type_video && !video) {
            video = s;
            video_info = info;
        } else {
            others[i] = s;
        }
    }
    const double open_ms = ms_since(&mark);
    if (!video) {
        std::fprintf(stderr, "first_frame: no video stream\n");
        return 1;
    }

    avi_frame_decoder* decoder = avi_frame_open(video);
    const double decoder_ms = ms_since(&mark);

    const int w = video_info.frame.right - video_info.frame.left;
    const int h = video_info.frame.bottom - video_info.frame.top;
    if (!open_display(w, h)) {
        std::fprintf(stderr, "first_frame: no window (is DISPLAY set?)\n");
        return 1;
    }
    clear_frame();
    present_frame();
    raise_display();
    const double window_ms = ms_since(&mark);

    const bitmap_info_header* frame = avi_frame_get(decoder, 0);
    const double decode_ms = ms_since(&mark);
    if (!frame) {
        std::fprintf(stderr, "first_frame: frame 0 did not decode\n");
        return 1;
    }

    const void* pixels = set_frame_header(frame);
    std::string title;
    compose_title(title, frame, pixels, argv[1], 0, video_info.length);
    draw_frame_bits(pixels);
    present_frame();
    set_display_title(title.c_str());
    const double present_ms = ms_since(&mark);
    const double total_ms = std::chrono::duration<double, std::milli>(mark - start).count();

    std::printf("open %.2f ms, decoder %.2f ms, window %.2f ms, frame 0 %.2f ms, "
                "draw and present %.2f ms; total %.2f ms\n",
                open_ms, decoder_ms, window_ms, decode_ms, present_ms, total_ms);

    const auto titles_start = clock_type::now();
    for (int32_t k = 1; k <= 300; k++) {
        compose_title(title, frame, pixels, argv[1], k, video_info.length);
        set_display_title(title.c_str());
    }
    std::printf("title change %.3f ms each (300)\n",
                std::chrono::duration<double, std::milli>(clock_type::now() - titles_start).count() /
                    300);

    close_display();
    avi_frame_close(decoder);
    avi_stream_release(video);
    for (avi_stream* s : others)
        avi_stream_release(s);
    avi_file_release(file);
    return 0;
}
