// Dialog service: the open-file dialog and the small Yes/No/Cancel questions.
#pragma once

#include <string>

// Answers of dialog_yes_no_cancel, as the platform's button identifiers.
constexpr int answer_yes = 6;
constexpr int answer_no = 7;
constexpr int answer_cancel = 2;

// Shows the open-file dialog with this title and one filter "*.*", in the current folder.
// True with the full chosen path; false when cancelled or when no dialog can be shown.
bool dialog_choose_file(const char* title, std::string* path);
// Shows a modal question with Yes, No and Cancel buttons and no owner window; returns
// answer_yes, answer_no or answer_cancel (closing it is Cancel), or 0 if it cannot be shown.
int dialog_yes_no_cancel(const char* text, const char* caption);
