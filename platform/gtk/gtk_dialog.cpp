// gtk_dialog.cpp: the file dialog on GTK 3's native file chooser.
//
// GtkFileChooserNative picks the dialog as GTK does by default: the desktop
// portal's inside a sandbox, GTK's own otherwise. GTK is started on the first
// call, on its own connection to the display beside SDL's, and runs only inside
// a call: the dialog's main loop iterates here until the dialog answers, then
// the dialog is destroyed and its windows are gone before the call returns.
// While it runs, SDL's connection is pumped now and then, so that the window
// manager still sees the main window answer (its events wait in SDL's queue for
// the library's next pump), and a close request of the main window ends the
// dialog as a cancel would.
#include <SDL.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { TEXT_UTF8_SIZE = 1024, PUMP_INTERVAL_MS = 100, PEEKED_EVENTS = 256 };

struct DialogRun {
    int done;
    int response;
    int mainWindowClosed;  // the main window was asked to close meanwhile
};

int GTK_STARTED = 0;  // 1 started, -1 failed for good

// 1 when a session bus can be reached without launching one.
int HasSessionBus(void) {
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') return 1;
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return 0;
    std::string socket = std::string(runtime) + "/bus";
    return access(socket.c_str(), F_OK) == 0;
}

// Keeps a file chooser dialog within the work area of the monitor it opens on:
// its remembered or computed size can exceed a small screen, leaving its
// buttons out of reach. The dialog sizes itself as it is shown, so the fitting
// runs once it has settled (from the main loop, not inside its allocation).
gboolean FitDialogToScreen(gpointer data) {
    GtkWidget* widget = GTK_WIDGET(data);
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkWindow* gdkWindow = gtk_widget_get_window(widget);
    GdkMonitor* monitor = gdkWindow != nullptr ? gdk_display_get_monitor_at_window(display, gdkWindow) : nullptr;
    if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (monitor != nullptr) {
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        // Room for a window manager's frame around it.
        int maxWidth = area.width * 9 / 10, maxHeight = area.height * 9 / 10;
        int width = 0, height = 0;
        gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
        if (width > maxWidth || height > maxHeight) {
            if (width > maxWidth) width = maxWidth;
            if (height > maxHeight) height = maxHeight;
            gtk_window_resize(GTK_WINDOW(widget), width, height);
            gtk_window_move(GTK_WINDOW(widget), area.x + (area.width - width) / 2, area.y + (area.height - height) / 2);
        }
    }
    g_object_unref(widget);
    return G_SOURCE_REMOVE;
}

void FitDialogWhenMapped(GtkWidget* widget, gpointer) {
    g_idle_add(FitDialogToScreen, g_object_ref(widget));
}

// Every file chooser dialog gets the fitting as it is realized.
gboolean WatchDialogSize(GSignalInvocationHint*, guint, const GValue* values, gpointer) {
    GObject* object = (GObject*)g_value_get_object(&values[0]);
    if (GTK_IS_FILE_CHOOSER_DIALOG(object)) {
        g_signal_connect(object, "map", G_CALLBACK(FitDialogWhenMapped), nullptr);
    }
    return TRUE;
}

int StartGtk(void) {
    if (GTK_STARTED == 0) {
        // Without a session bus, GTK's settings would try to launch one for
        // dconf on every dialog and warn each time: keep them in memory.
        if (!HasSessionBus()) setenv("GSETTINGS_BACKEND", "memory", 0);
        // The process keeps its own locale; the dialog gets the user's only while it runs.
        gtk_disable_setlocale();
        GTK_STARTED = gtk_init_check(nullptr, nullptr) ? 1 : -1;
        if (GTK_STARTED == 1) {
            g_signal_add_emission_hook(g_signal_lookup("realize", GTK_TYPE_WIDGET), 0, WatchDialogSize, nullptr,
                                       nullptr);
        }
    }
    return GTK_STARTED == 1 ? 0 : -1;
}

// Why GTK could not start, on standard error: the display it was given.
void ReportGtkFailure(void) {
    const char* backend = getenv("GDK_BACKEND");
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    fprintf(stderr, "%s: cannot open the file dialog: GTK cannot open the display", program_invocation_short_name);
    if (backend != nullptr && *backend != '\0') fprintf(stderr, " (GDK_BACKEND=%s)", backend);
    if (display != nullptr && *display != '\0') fprintf(stderr, " \"%s\"", display);
    if (wayland != nullptr && *wayland != '\0') fprintf(stderr, " (Wayland \"%s\")", wayland);
    fputc('\n', stderr);
    fflush(stderr);
}

void OnResponse(GtkNativeDialog*, gint response, gpointer data) {
    DialogRun* run = (DialogRun*)data;
    run->response = response;
    run->done = 1;
}

// Pumps SDL's connection and looks, without taking anything from its queue,
// for a close request of the main window (or of the whole program).
gboolean PumpSdl(gpointer data) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return G_SOURCE_CONTINUE;
    SDL_PumpEvents();
    SDL_Event events[PEEKED_EVENTS];
    int count = SDL_PeepEvents(events, PEEKED_EVENTS, SDL_PEEKEVENT, SDL_QUIT, SDL_WINDOWEVENT);
    uint32_t main = GetSdl2MainWindowId();
    for (int i = 0; i < count; i++) {
        int close = events[i].type == SDL_QUIT ||
                    (events[i].type == SDL_WINDOWEVENT && events[i].window.event == SDL_WINDOWEVENT_CLOSE &&
                     main != 0 && events[i].window.windowID == main);
        if (close) {
            DialogRun* run = (DialogRun*)data;
            run->mainWindowClosed = 1;
            run->done = 1;
            break;
        }
    }
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
        ReportGtkFailure();
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

    DialogRun run = {0, GTK_RESPONSE_NONE, 0};
    g_signal_connect(native, "response", G_CALLBACK(OnResponse), &run);
    guint pump = g_timeout_add(PUMP_INTERVAL_MS, PumpSdl, &run);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
    while (!run.done) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(pump);

    int result = 0;
    if (run.mainWindowClosed) {
        gtk_native_dialog_hide(GTK_NATIVE_DIALOG(native));
    } else if (run.response == GTK_RESPONSE_ACCEPT) {
        char* chosen = gtk_file_chooser_get_filename(chooser);
        if (chosen != nullptr && strlen(chosen) < (size_t)size) {
            snprintf(path, (size_t)size, "%s", chosen);
            result = 1;
        } else {
            fprintf(stderr, "%s: the chosen file's path is too long\n", program_invocation_short_name);
            result = -1;
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
