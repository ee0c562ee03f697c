// gtk_dialog.cpp: the file dialog on GTK 3's native file chooser.
//
// GtkFileChooserNative shows the desktop's own dialog through its portal where
// one runs on the session bus (GTK 3 by itself asks the portal only inside a
// sandbox or with GTK_USE_PORTAL=1, so a running portal with a file chooser sets
// that before GTK starts), GTK's dialog otherwise. GTK is started on the first call, on its own connection to the
// display beside SDL's, and runs only inside a call: the dialog's main loop
// iterates here until the dialog answers, then the dialog is destroyed and its
// windows are gone before the call returns. While it runs, SDL's connection is
// pumped now and then, so that the window manager still sees the main window
// answer (its events wait in SDL's queue for the library's next pump).
#include <SDL.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

enum { TEXT_UTF8_SIZE = 1024, PUMP_INTERVAL_MS = 100 };

struct DialogRun {
    int done;
    int response;
};

int GTK_STARTED = 0;  // 1 started, -1 failed for good

// 1 when a desktop portal with a file chooser runs on the session bus now. Only
// a bus that exists is asked: none is launched for the question, and a portal
// that would have to be started (and may have no file chooser) is not counted.
int IsFileChooserPortalRunning(void) {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string socket = runtime != nullptr ? std::string(runtime) + "/bus" : "";
    if (getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr && (socket.empty() || access(socket.c_str(), F_OK) != 0)) {
        return 0;
    }
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return 0;
    GVariant* version = g_dbus_connection_call_sync(
        bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties",
        "Get", g_variant_new("(ss)", "org.freedesktop.portal.FileChooser", "version"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 500, nullptr, nullptr);
    int running = version != nullptr;
    if (version != nullptr) g_variant_unref(version);
    g_object_unref(bus);
    return running;
}

int StartGtk(void) {
    if (GTK_STARTED == 0) {
        if (getenv("GTK_USE_PORTAL") == nullptr && IsFileChooserPortalRunning()) setenv("GTK_USE_PORTAL", "1", 0);
        // The process keeps its own locale; the dialog gets the user's only while it runs.
        gtk_disable_setlocale();
        GTK_STARTED = gtk_init_check(nullptr, nullptr) ? 1 : -1;
    }
    return GTK_STARTED == 1 ? 0 : -1;
}

void OnResponse(GtkNativeDialog*, gint response, gpointer data) {
    DialogRun* run = (DialogRun*)data;
    run->response = response;
    run->done = 1;
}

gboolean PumpSdl(gpointer) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_PumpEvents();
    return G_SOURCE_CONTINUE;
}

// Windows' "*.*" means every file; a GTK glob would ask for a dot in the name.
void AddPatterns(GtkFileFilter* filter, const char* patterns) {
    char one[TEXT_UTF8_SIZE];
    for (const char* at = patterns; *at != '\0';) {
        size_t length = strcspn(at, ";");
        if (length > 0 && length < sizeof one) {
            memcpy(one, at, length);
            one[length] = '\0';
            gtk_file_filter_add_pattern(filter, strcmp(one, "*.*") == 0 ? "*" : one);
        }
        at += length;
        if (*at == ';') at++;
    }
}

void AddFilters(GtkFileChooser* chooser, const char* block, int selected) {
    if (block == nullptr) return;
    int index = 0;
    while (block[0] != '\0') {
        const char* name = block;
        const char* patterns = name + strlen(name) + 1;
        if (patterns[0] == '\0') break;  // a display text without its pattern ends the block
        char nameUtf8[TEXT_UTF8_SIZE];
        ConvertSjisToUtf8(name, nameUtf8, sizeof nameUtf8);
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, nameUtf8);
        AddPatterns(filter, patterns);
        gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter's reference
        if (index == selected) gtk_file_chooser_set_filter(chooser, filter);
        index++;
        block = patterns + strlen(patterns) + 1;
    }
}

void FinishPendingEvents(void) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gdk_display_flush(gdk_display_get_default());
}

int GtkRunFileDialog(const PlatformFileDialogRequest* request, char* path, int size) {
    if (size <= 0) return -1;
    path[0] = '\0';
    std::string savedLocale = setlocale(LC_ALL, nullptr);
    setlocale(LC_ALL, "");
    if (StartGtk() != 0) {
        setlocale(LC_ALL, savedLocale.c_str());
        return -1;
    }
    int save = request->kind == FILE_DIALOG_SAVE;
    char titleUtf8[TEXT_UTF8_SIZE];
    ConvertSjisToUtf8(request->title != nullptr ? request->title : "", titleUtf8, sizeof titleUtf8);
    GtkFileChooserNative* native = gtk_file_chooser_native_new(
        titleUtf8, nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    // No initial folder asked for: start where the process stands.
    char* here = g_get_current_dir();
    gtk_file_chooser_set_current_folder(chooser, here);
    g_free(here);
    AddFilters(chooser, request->filter, request->filterIndex);

    DialogRun run = {0, GTK_RESPONSE_NONE};
    g_signal_connect(native, "response", G_CALLBACK(OnResponse), &run);
    guint pump = g_timeout_add(PUMP_INTERVAL_MS, PumpSdl, nullptr);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
    while (!run.done) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(pump);

    int result = 0;
    if (run.response == GTK_RESPONSE_ACCEPT) {
        char* chosen = gtk_file_chooser_get_filename(chooser);
        result = -1;
        if (chosen != nullptr && strlen(chosen) < (size_t)size) {
            snprintf(path, (size_t)size, "%s", chosen);
            result = 1;
        }
        g_free(chosen);
    }
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(native));
    g_object_unref(native);
    FinishPendingEvents();
    setlocale(LC_ALL, savedLocale.c_str());
    return result;
}

}  // namespace

const PlatformDialogOps GTK_DIALOG_OPS = {
    GtkRunFileDialog,
};
