// The open-file dialog and the Yes/No/Cancel question as GTK 3 dialogs, run on the main thread.
#include "platform/dialogs.h"

#include <gtk/gtk.h>

#include "platform/linux/quiet_gtk.h"

namespace {

// A message box answers Y and N (its buttons' mnemonics) and Escape (Cancel) from the keyboard;
// Return activates the focused button, which starts as Yes.
gboolean on_question_key(GtkWidget* dialog, GdkEventKey* event, gpointer)
{
    int answer = 0;
    switch (event->keyval) {
    case GDK_KEY_y:
    case GDK_KEY_Y:
        answer = answer_yes;
        break;
    case GDK_KEY_n:
    case GDK_KEY_N:
        answer = answer_no;
        break;
    case GDK_KEY_Escape:
        answer = answer_cancel;
        break;
    default:
        return FALSE;
    }
    gtk_dialog_response(GTK_DIALOG(dialog), answer);
    return TRUE;
}

// Once on screen, the dialog asks for the keyboard focus: a window manager may give it on its
// own, but with none (a bare X server) only this brings keys to it.
gboolean on_mapped(GtkWidget* dialog, GdkEvent*, gpointer)
{
    gtk_window_present(GTK_WINDOW(dialog));
    return FALSE;
}

// The dialog comes up above the console and the video window, ready for keys.
void put_in_front(GtkWidget* dialog)
{
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    g_signal_connect(dialog, "map-event", G_CALLBACK(on_mapped), nullptr);
}

// Runs the dialog modally. Our own reference keeps it valid even if its window is destroyed
// from outside while it runs, which ends the run with no response.
int run_dialog(GtkWidget* dialog)
{
    g_object_ref(dialog);
    return gtk_dialog_run(GTK_DIALOG(dialog));
}

// Takes the dialog off the screen at once and lets it go.
void end_dialog(GtkWidget* dialog)
{
    gtk_widget_destroy(dialog);
    gtk_pump_pending();
    g_object_unref(dialog);
}

}  // namespace

bool dialog_choose_file(const char* title, std::string* path)
{
    if (!quiet_gtk_ready())
        return false;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title, nullptr, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                    "_Cancel", GTK_RESPONSE_CANCEL, "_Open",
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "*.*");
    gtk_file_filter_add_pattern(filter, "*");
    gtk_file_chooser_add_filter(chooser, filter);
    gchar* here = g_get_current_dir();
    gtk_file_chooser_set_current_folder(chooser, here);
    g_free(here);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    put_in_front(dialog);

    bool chosen = false;
    if (run_dialog(dialog) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(chooser)) {
            *path = name;
            g_free(name);
            chosen = true;
        }
    }
    end_dialog(dialog);
    return chosen;
}

int dialog_yes_no_cancel(const char* text, const char* caption)
{
    if (!quiet_gtk_ready())
        return 0;
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_NONE, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "はい", answer_yes, "いいえ", answer_no,
                           "キャンセル", answer_cancel, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), answer_yes);
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), answer_yes));
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(on_question_key), nullptr);
    put_in_front(dialog);

    const int response = run_dialog(dialog);
    end_dialog(dialog);
    // Closing the window, or any other way it goes without a button, is Cancel.
    return response == answer_yes || response == answer_no ? response : answer_cancel;
}
