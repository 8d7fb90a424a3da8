// The open-file dialog through which the user picks the clip.
#pragma once

// Asks the user for a file; returns its full path, or nullptr when the dialog was cancelled or
// could not be shown. The path stays valid for the whole run.
const char* choose_avi_file();
