// The frame loop: decode, show, title, sound and step control for every frame in turn.
#pragma once

struct playback_state;

// Walks the video frames from 0 until the last one or until the user quits.
void run_frame_loop(playback_state& state);
