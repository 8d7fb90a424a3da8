// avistep: plays an AVI clip frame by frame, with its sound, for inspection.
#include <cstdio>

#include "display/display.h"
#include "playback/console.h"
#include "playback/file_chooser.h"
#include "playback/play_avi.h"
#include "playback/texts.h"

int main()
{
    start_console();
    play_avi(choose_avi_file());
    std::printf("%s", text_quit);
    wait_key();
    close_display();
    std::fflush(stdout);
    return 0;
}
