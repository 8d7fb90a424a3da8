// The open-file dialog and the Yes/No/Cancel question as GTK 3 dialogs, run on the main thread.
#include "platform/dialogs.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "platform/common/dialog_place.h"
#include "platform/linux/dialogs/quiet_gtk.h"

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

// How long a dialog keeps asking for the keyboard, and how often, until it has it.
constexpr int focus_patience_ms = 2000;
constexpr int focus_retry_ms = 100;

// Asks for the keyboard focus with a fresh server timestamp: a window manager refuses an older
// one as focus stealing, and with none (a bare X server) the X server ignores a focus request
// older than the last change of focus.
void ask_for_focus(GtkWidget* dialog)
{
    guint32 now = GDK_CURRENT_TIME;
    GdkWindow* window = gtk_widget_get_window(dialog);
    if (window && GDK_IS_X11_WINDOW(window))
        now = gdk_x11_get_server_time(window);
    gtk_window_present_with_time(GTK_WINDOW(dialog), now);
}

// The dialog's repeated request for the keyboard, until it has it or gives up.
struct focus_wait {
    GtkWidget* dialog;
    int tries;
    guint source;  // 0 once it has stopped
};

void free_focus_wait(gpointer data)
{
    auto* wait = static_cast<focus_wait*>(data);
    if (wait->source)
        g_source_remove(wait->source);
    delete wait;
}

// Asks again until the dialog has the keyboard: the video window may take it back while the
// dialog appears, and a window manager may give it only once the dialog is mapped.
gboolean keep_asking_for_focus(gpointer data)
{
    auto* wait = static_cast<focus_wait*>(data);
    if (!gtk_widget_get_mapped(wait->dialog) || gtk_window_is_active(GTK_WINDOW(wait->dialog)) ||
        ++wait->tries > focus_patience_ms / focus_retry_ms) {
        wait->source = 0;
        return G_SOURCE_REMOVE;
    }
    ask_for_focus(wait->dialog);
    return G_SOURCE_CONTINUE;
}

// Runs once per dialog: presenting a window maps it again on Wayland, so a handler that asked
// at every mapping would call itself for ever. Destroying the dialog stops the wait.
gboolean on_mapped(GtkWidget* dialog, GdkEvent*, gpointer)
{
    g_signal_handlers_disconnect_by_func(dialog, reinterpret_cast<gpointer>(on_mapped), nullptr);
    ask_for_focus(dialog);
    auto* wait = new focus_wait{dialog, 0, 0};
    wait->source = g_timeout_add(focus_retry_ms, keep_asking_for_focus, wait);
    g_object_set_data_full(G_OBJECT(dialog), "avistep-focus-wait", wait, free_focus_wait);
    return FALSE;
}

// Opens the dialog clear of the video window, on the work area of the monitor that shows it;
// with no video window, in the middle of the screen.
void place(GtkWidget* dialog)
{
    screen_rect outer;
    screen_rect client;
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !video_window_rect(&outer, &client)) {
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        return;
    }
    GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, client.x + client.width / 2,
                                                           client.y + client.height / 2);
    GdkRectangle work{};
    if (monitor)
        gdk_monitor_get_workarea(monitor, &work);
    GtkRequisition size{};
    gtk_widget_get_preferred_size(dialog, nullptr, &size);
    // The window manager frames the dialog as it framed the video window.
    const int frame_width = outer.width - client.width;
    const int frame_height = outer.height - client.height;
    const screen_rect spot = place_dialog(outer, size.width + frame_width,
                                          size.height + frame_height,
                                          screen_rect{work.x, work.y, work.width, work.height});
    // The default gravity puts the frame's top-left corner at the position given.
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_NONE);
    gtk_window_move(GTK_WINDOW(dialog), spot.x, spot.y);
}

// The dialog comes up above the console and the video window, ready for keys.
void put_in_front(GtkWidget* dialog)
{
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    place(dialog);
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

// The chooser's answer for a file typed into its location bar and taken at once. The file
// chooser holds back an accepting response until it has looked the file up again, which takes
// it a quarter of a second; one of our own passes straight through.
constexpr int response_typed_file = 1;

// A path typed into the chooser that names an existing file is taken at once on Return: in its
// location bar, or in the search that typing into the file list starts, where GTK's first Return
// would only move to the results. Anything else (a folder, a name to complete, a search for part
// of a name) is left to GTK.
gboolean on_chooser_key(GtkWidget* dialog, GdkEventKey* event, gpointer)
{
    const bool enter = event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter ||
                       event->keyval == GDK_KEY_ISO_Enter;
    if (!enter || (event->state & gtk_accelerator_get_default_mod_mask()) != 0)
        return FALSE;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog));
    if (!focus || !GTK_IS_ENTRY(focus) ||
        (g_strcmp0(G_OBJECT_TYPE_NAME(focus), "GtkFileChooserEntry") != 0 &&
         !GTK_IS_SEARCH_ENTRY(focus)))
        return FALSE;
    const gchar* text = gtk_entry_get_text(GTK_ENTRY(focus));
    if (!text || !*text)
        return FALSE;
    gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
    gchar* file = g_canonicalize_filename(text, folder);
    g_free(folder);
    if (!g_file_test(file, G_FILE_TEST_IS_REGULAR)) {
        g_free(file);
        return FALSE;
    }
    g_object_set_data_full(G_OBJECT(dialog), "avistep-typed-file", file, g_free);
    gtk_dialog_response(GTK_DIALOG(dialog), response_typed_file);
    return TRUE;
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
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(on_chooser_key), nullptr);
    put_in_front(dialog);

    bool chosen = false;
    const int response = run_dialog(dialog);
    if (response == response_typed_file) {
        *path = static_cast<const gchar*>(g_object_get_data(G_OBJECT(dialog), "avistep-typed-file"));
        chosen = true;
    } else if (response == GTK_RESPONSE_ACCEPT) {
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
