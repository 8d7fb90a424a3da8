// GTK for the dialogs: started on first use, its log messages and those of the libraries it
// loads kept off the console, which shows only the program's own text.
#pragma once

// Starts GTK on the calling thread (the main thread) once; false when no display can be opened.
bool quiet_gtk_ready();
// Handles every pending GTK event and flushes the display, so a destroyed window is gone at once.
void gtk_pump_pending();
