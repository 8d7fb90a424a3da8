// The fixed texts avistep shows: the dialogs' title and questions, the prompts and the console's
// messages. The lines with numbers in them are formatted where they are printed: the stream
// report in report.cpp, the frame line in frame_loop.cpp, the window title in report.cpp; the
// window's first title and class are in display/display.cpp. The sources are UTF-8; the Windows
// build turns the Japanese texts into code page 932 for the platform's 8-bit calls.
#pragma once

// Title of the open-file dialog: "Specify the AVI file".
inline constexpr const char* text_choose_title = "AVIファイルを指定します";
// First mode prompt: n walks without display, any other key displays.
inline constexpr const char* text_prompt_monitor = "non_monitor - nキー , 表示 - n以外のキー ?";
// Second mode prompt: s steps frame by frame, any other key plays continuously.
inline constexpr const char* text_prompt_step = "\nコマ送り - sキー , 連続表示 - s以外のキー ?";
// Interruption dialog: step mode (Yes), resume continuous play (No), quit (Cancel).
inline constexpr const char* text_interrupt =
    "ステップ動作にする-はい 連続処理再開-いいえ 終了-キャンセル";
// Step dialog: next frame (Yes), previous frame (No), continuous display (Cancel).
inline constexpr const char* text_step = "次のフレーム-はい 前のフレーム-いいえ 連続表示-キャンセル";
inline constexpr const char* text_dialog_caption = "...";
inline constexpr const char* text_quit = "quit?";
inline constexpr const char* text_open_err = "open err\n";
inline constexpr const char* text_no_video = "no video stream\n";
inline constexpr const char* text_no_audio = "no audio stream\n";
inline constexpr const char* text_no_decoder = "no decoder\n";
inline constexpr const char* text_no_audio_decoder = "no audio decoder\n";
inline constexpr const char* text_decode_err = "decode err ";
