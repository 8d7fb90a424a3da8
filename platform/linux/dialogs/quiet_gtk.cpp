#include "platform/linux/dialogs/quiet_gtk.h"

#include <gtk/gtk.h>

#include <cstdlib>

#include "platform/linux/session/display_server.h"

namespace {

// GTK, GDK, GLib, dconf and the accessibility bridge all log through GLib; messages logged the
// old way reach this writer through the default handler. Their warnings (no session bus, no
// accessibility bus, settings not saved) mean nothing to the user of a console tool; only an
// error, which ends the process, is still written.
GLogWriterOutput write_errors_only(GLogLevelFlags level, const GLogField* fields, gsize n_fields,
                                   gpointer user_data)
{
    if (level & G_LOG_LEVEL_ERROR)
        return g_log_writer_default(level, fields, n_fields, user_data);
    return G_LOG_WRITER_HANDLED;
}

void ignore_change(GtkRecentManager*) {}

// The file chooser adds every chosen file to the user's recent-files list, and the recent-files
// manager writes the list out from its "changed" handler (an empty list when the list is
// switched off in the settings). With that handler gone, the list is only ever read.
void keep_recent_files_unwritten()
{
    auto* recent = static_cast<GtkRecentManagerClass*>(g_type_class_ref(GTK_TYPE_RECENT_MANAGER));
    recent->changed = ignore_change;
}

}  // namespace

bool quiet_gtk_ready()
{
    static const bool ready = [] {
        // The accessibility bridge wants a session bus it mostly cannot find; the dialogs work
        // the same without it. A user who set the variable keeps their choice.
        setenv("NO_AT_BRIDGE", "1", 0);
        // The file chooser saves its own settings (size, sorting, last mode) at every close;
        // a run keeps no state and writes nothing, so its settings live in memory only.
        setenv("GSETTINGS_BACKEND", "memory", 0);
        // The dialogs draw with cairo alone. Without this, the first GTK program on an X
        // display probes its GL visuals, which loads Mesa and LLVM: about 50 MB, for nothing.
        setenv("GDK_GL", "disable", 0);
        g_log_set_writer_func(write_errors_only, nullptr, nullptr);
        // The dialogs go to the video window's display server: on a Wayland desktop GTK would
        // take Wayland and SDL Xwayland. GDK_BACKEND, read before the allowed list, is set to
        // the same choice, which already followed it where the user set it.
        if (const char* server = display_server()) {
            if (std::getenv("GDK_BACKEND"))
                setenv("GDK_BACKEND", server, 1);
            gdk_set_allowed_backends(server);
        }
        if (!gtk_init_check(nullptr, nullptr))
            return false;
        keep_recent_files_unwritten();
        return true;
    }();
    return ready;
}

void gtk_pump_pending()
{
    while (gtk_events_pending())
        gtk_main_iteration();
    if (GdkDisplay* display = gdk_display_get_default())
        gdk_display_flush(display);
}
