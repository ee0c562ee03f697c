// gtk_dialog.cpp: the file dialog on GTK 3's native file chooser.
//
// GtkFileChooserNative picks the dialog as GTK does by default: the desktop
// portal's inside a sandbox, GTK's own otherwise. GTK lives on a thread of its
// own, started as early as the program asks (its start-up then runs while the
// library starts) or at the first dialog, and only that thread touches GTK: it
// runs GTK's main loop for good, and a dialog is handed to it as a request.
// The caller's thread blocks meanwhile, pumping SDL's connection now and then
// so that the window manager still sees the main window answer (its events
// wait in SDL's queue for the library's next pump); a close request of the
// main window, or the caller's own wish, ends the dialog as a cancel would.
// The process's locale is never changed: GTK's thread alone takes the user's.
//
// GTK grabs the X server while it opens its display. A thread that opened a
// connection meanwhile would wait for the server while holding Xlib's global
// lock, which GTK's thread needs before it can let the server go: the whole
// display would stand still. So GTK opens its display under the lock that
// SDL's video start and end take too.
//
// One dialog runs at a time, in the one record below. Its answer is given
// once: GTK's thread marks it as being given before anything can run a second
// one (a cancel already queued runs inside the first, while its windows go),
// and a step queued for an earlier dialog finds another dialog's number.
#include <SDL.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/gtk/gtk_internal.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/sdl2/sdl2_internal.h"

namespace {

enum { TEXT_UTF8_SIZE = 1024, PUMP_INTERVAL_MS = 20, PEEKED_EVENTS = 256 };
enum { GTK_START_TRIES = 5, GTK_RETRY_PAUSE_MS = 20 };

// The dialog, from the request to its answer.
struct DialogRun {
    // Under GTK_THREAD.lock: the request, copied so that GTK's thread never
    // reads the caller's memory, and the answer.
    unsigned number;     // counts the dialogs; each step queued for one carries it
    int save;
    std::string title;   // UTF-8
    std::string filter;  // the Shift-JIS block, terminators included
    int filterIndex;
    std::string folder;  // where the dialog starts
    int done;
    int result;          // 1 chosen, 0 cancelled, -1 failed
    std::string path;
    // GTK's thread only.
    GtkFileChooserNative* native;
    int answering;       // the answer is being given; no second one
};

struct GtkThreadState {
    std::mutex lock;
    std::condition_variable changed;
    int threadStarted;  // the thread exists (it runs until the process ends)
    int ready;          // 0 starting, 1 GTK runs, -1 GTK could not start
};

// GTK's thread runs until the process ends, past the destructors of statics:
// what it shares with the caller is never destroyed.
GtkThreadState& GTK_THREAD = *new GtkThreadState();
DialogRun& RUN = *new DialogRun();

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

// GDK writes the title into WM_NAME and WM_ICON_NAME through Xlib's locale
// conversion, which follows the process's locale, not this thread's: in the C
// locale a Japanese title comes out as Latin-1 garbage. Both are written again
// as UTF-8, as _NET_WM_NAME is.
void WriteUtf8WindowNames(GtkWidget* widget) {
    GdkWindow* window = gtk_widget_get_window(widget);
    const char* title = gtk_window_get_title(GTK_WINDOW(widget));
    if (window == nullptr || !GDK_IS_X11_WINDOW(window) || title == nullptr) return;
    GdkDisplay* display = gdk_window_get_display(window);
    Atom utf8 = gdk_x11_get_xatom_by_name_for_display(display, "UTF8_STRING");
    for (Atom property : {XA_WM_NAME, XA_WM_ICON_NAME}) {
        XChangeProperty(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(window), property, utf8, 8, PropModeReplace,
                        (const unsigned char*)title, (int)strlen(title));
    }
}

void FitDialogWhenMapped(GtkWidget* widget, gpointer) {
    WriteUtf8WindowNames(widget);
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

// GTK's thread: starts GTK, says how that went, then runs GTK's main loop for
// the rest of the process.
// A dialog made and realized while the program starts, waiting to be shown:
// building the chooser is most of a dialog's opening time. Touched on GTK's
// thread only.
GtkFileChooserNative* SPARE_DIALOG = nullptr;

GtkFileChooserNative* MakeDialog(int save, const char* folder) {
    GtkFileChooserNative* native = gtk_file_chooser_native_new(
        "", nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    // No initial folder asked for: start where the process stands.
    gtk_file_chooser_set_current_folder(chooser, folder);
    return native;
}

// Makes the spare open dialog and realizes GTK's own window for it (a portal's
// dialog lives in another process and has no window here).
void MakeSpareDialog(const char* folder) {
    SPARE_DIALOG = MakeDialog(0, folder);
    GList* windows = gtk_window_list_toplevels();
    for (GList* at = windows; at != nullptr; at = at->next) {
        if (GTK_IS_FILE_CHOOSER_DIALOG(at->data) && !gtk_widget_get_realized(GTK_WIDGET(at->data))) {
            gtk_widget_realize(GTK_WIDGET(at->data));
        }
    }
    g_list_free(windows);
}

void RunGtkThread(std::string folder) {
    // The user's language and character set for the dialog, on this thread only.
    locale_t user = newlocale(LC_ALL_MASK, "", (locale_t)0);
    if (user != (locale_t)0) uselocale(user);
    gtk_disable_setlocale();
    // An X server refuses a few percent of connections made while another
    // client connects or has just left: a display that is there gets a few
    // more tries, as SDL's own start gets.
    int ok = 0;
    LockDisplayConnections();
    for (int attempt = 0; attempt < GTK_START_TRIES && !ok; attempt++) {
        if (attempt > 0) g_usleep(GTK_RETRY_PAUSE_MS * 1000);
        ok = gtk_init_check(nullptr, nullptr);
    }
    UnlockDisplayConnections();
    if (ok) {
        g_signal_add_emission_hook(g_signal_lookup("realize", GTK_TYPE_WIDGET), 0, WatchDialogSize, nullptr,
                                   nullptr);
    }
    {
        std::lock_guard<std::mutex> hold(GTK_THREAD.lock);
        GTK_THREAD.ready = ok ? 1 : -1;
        GTK_THREAD.changed.notify_all();
    }
    if (!ok) return;
    MakeSpareDialog(folder.c_str());
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
}

void StartGtkThread(void) {
    if (GTK_THREAD.threadStarted) return;
    // Without a session bus, GTK's settings would try to launch one for dconf
    // on every dialog and warn each time: keep them in memory. Set here, before
    // any other thread could read the environment.
    if (!HasSessionBus()) setenv("GSETTINGS_BACKEND", "memory", 0);
    GTK_THREAD.threadStarted = 1;
    char* here = g_get_current_dir();
    std::thread(RunGtkThread, std::string(here)).detach();
    g_free(here);
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

// ---- On GTK's thread ----

void FinishPendingEvents(void) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gdk_display_flush(gdk_display_get_default());
}

// 1 when a step queued for dialog number is still for the dialog that runs.
int IsCurrentDialog(gpointer number) {
    std::lock_guard<std::mutex> hold(GTK_THREAD.lock);
    return RUN.number == GPOINTER_TO_UINT(number) && !RUN.done;
}

// The dialog is gone (its windows too) before the caller hears the answer,
// which is given once.
void EndDialog(int result, const std::string& path) {
    if (RUN.answering) return;
    RUN.answering = 1;
    if (RUN.native != nullptr) {
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(RUN.native));
        g_object_unref(RUN.native);
        RUN.native = nullptr;
    }
    // Whatever this runs (a cancel queued meanwhile, say) finds the answer being given.
    FinishPendingEvents();
    std::lock_guard<std::mutex> hold(GTK_THREAD.lock);
    RUN.path = path;
    RUN.result = result;
    RUN.done = 1;
    GTK_THREAD.changed.notify_all();
}

void OnResponse(GtkNativeDialog* native, gint response, gpointer number) {
    if (RUN.answering || native != GTK_NATIVE_DIALOG(RUN.native) || !IsCurrentDialog(number)) return;
    int result = 0;
    std::string path;
    if (response == GTK_RESPONSE_ACCEPT) {
        char* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(native));
        if (chosen != nullptr) {
            path = chosen;
            result = 1;
        } else {
            result = -1;
        }
        g_free(chosen);
    }
    EndDialog(result, path);
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
        ConvertTextToUtf8(name, nameUtf8, sizeof nameUtf8);
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, nameUtf8);
        AddPatterns(filter, patterns);
        gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter's reference
        if (index == selected) gtk_file_chooser_set_filter(chooser, filter);
        index++;
        block = patterns + strlen(patterns) + 1;
    }
}

gboolean ShowDialog(gpointer number) {
    // The request as the caller left it.
    int save, filterIndex;
    std::string title, filter, folder;
    {
        std::lock_guard<std::mutex> hold(GTK_THREAD.lock);
        if (RUN.number != GPOINTER_TO_UINT(number) || RUN.done) return G_SOURCE_REMOVE;
        save = RUN.save;
        filterIndex = RUN.filterIndex;
        title = RUN.title;
        filter = RUN.filter;
        folder = RUN.folder;
    }
    RUN.answering = 0;
    if (SPARE_DIALOG != nullptr && !save) {
        RUN.native = SPARE_DIALOG;
        SPARE_DIALOG = nullptr;
        // The folder may have changed since the spare was made.
        char* current = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(RUN.native));
        if (current == nullptr || folder != current) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(RUN.native), folder.c_str());
        }
        g_free(current);
    } else {
        RUN.native = MakeDialog(save, folder.c_str());
    }
    gtk_native_dialog_set_title(GTK_NATIVE_DIALOG(RUN.native), title.c_str());
    AddFilters(GTK_FILE_CHOOSER(RUN.native), filter.empty() ? nullptr : filter.c_str(), filterIndex);
    g_signal_connect(RUN.native, "response", G_CALLBACK(OnResponse), number);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(RUN.native));
    return G_SOURCE_REMOVE;
}

// The main window was closed, or the caller wants the dialog gone: it goes as
// if cancelled.
gboolean CancelDialog(gpointer number) {
    if (RUN.answering || !IsCurrentDialog(number)) return G_SOURCE_REMOVE;
    if (RUN.native != nullptr) gtk_native_dialog_hide(GTK_NATIVE_DIALOG(RUN.native));
    EndDialog(0, std::string());
    return G_SOURCE_REMOVE;
}

// ---- On the caller's thread ----

// Runs a step for a dialog on GTK's thread. Always queued: invoking it
// directly could run it here while GTK's loop has not yet taken its context.
void QueueOnGtkThread(GSourceFunc step, unsigned number) {
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, step, GUINT_TO_POINTER(number), nullptr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

// Pumps SDL's connection and looks, without taking anything from its queue,
// for a close request of the main window (or of the whole program).
int IsMainWindowClosing(void) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return 0;
    SDL_PumpEvents();
    SDL_Event events[PEEKED_EVENTS];
    int count = SDL_PeepEvents(events, PEEKED_EVENTS, SDL_PEEKEVENT, SDL_QUIT, SDL_WINDOWEVENT);
    uint32_t main = GetSdl2MainWindowId();
    for (int i = 0; i < count; i++) {
        if (events[i].type == SDL_QUIT) return 1;
        if (events[i].type == SDL_WINDOWEVENT && events[i].window.event == SDL_WINDOWEVENT_CLOSE && main != 0 &&
            events[i].window.windowID == main) {
            return 1;
        }
    }
    return 0;
}

// The length of a filter block, its closing zero byte included.
size_t FilterBlockBytes(const char* block) {
    if (block == nullptr) return 0;
    size_t at = 0;
    while (block[at] != '\0') {
        at += strlen(block + at) + 1;                       // display text
        if (block[at] == '\0') break;                       // no pattern: the block ends
        at += strlen(block + at) + 1;                       // pattern
    }
    return at + 1;
}

void GtkPrepareFileDialog(void) { StartGtkThread(); }

int GtkRunFileDialog(const PlatformFileDialogRequest* request, char* path, int size) {
    if (size <= 0) return -1;
    path[0] = '\0';
    StartGtkThread();
    std::unique_lock<std::mutex> hold(GTK_THREAD.lock);
    // GTK's start-up, begun early or just now, keeps the main window answering.
    while (GTK_THREAD.ready == 0) {
        hold.unlock();
        IsMainWindowClosing();
        hold.lock();
        GTK_THREAD.changed.wait_for(hold, std::chrono::milliseconds(PUMP_INTERVAL_MS));
    }
    if (GTK_THREAD.ready != 1) {
        hold.unlock();
        ReportGtkFailure();
        return -1;
    }
    hold.unlock();

    char titleUtf8[TEXT_UTF8_SIZE];
    ConvertTextToUtf8(request->title != nullptr ? request->title : "", titleUtf8, sizeof titleUtf8);
    char* here = g_get_current_dir();
    unsigned number;
    hold.lock();
    number = ++RUN.number;
    RUN.save = request->kind == FILE_DIALOG_SAVE;
    RUN.title = titleUtf8;
    RUN.filter.assign(request->filter != nullptr ? request->filter : "", FilterBlockBytes(request->filter));
    RUN.filterIndex = request->filterIndex;
    RUN.folder = here;
    RUN.done = 0;
    RUN.result = 0;
    RUN.path.clear();
    hold.unlock();
    g_free(here);
    QueueOnGtkThread(ShowDialog, number);

    int cancelAsked = 0;
    hold.lock();
    while (!RUN.done) {
        hold.unlock();
        if (!cancelAsked && (IsMainWindowClosing() || (request->ShouldEnd != nullptr && request->ShouldEnd()))) {
            cancelAsked = 1;
            QueueOnGtkThread(CancelDialog, number);
        }
        hold.lock();
        if (!RUN.done) GTK_THREAD.changed.wait_for(hold, std::chrono::milliseconds(PUMP_INTERVAL_MS));
    }
    int result = RUN.result;
    std::string chosen = RUN.path;
    hold.unlock();

    if (result != 1) return result;
    if (chosen.size() >= (size_t)size) {
        fprintf(stderr, "%s: the chosen file's path is too long\n", program_invocation_short_name);
        return -1;
    }
    memcpy(path, chosen.c_str(), chosen.size() + 1);
    return 1;
}

}  // namespace

namespace {

gboolean AnswerWithCancelQueued(gpointer data) {
    char* file = (char*)data;
    GList* windows = gtk_window_list_toplevels();
    for (GList* at = windows; at != nullptr && RUN.native != nullptr; at = at->next) {
        if (!GTK_IS_FILE_CHOOSER_DIALOG(at->data) || !gtk_widget_get_visible(GTK_WIDGET(at->data))) continue;
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(at->data);
        // The chooser selects a file once its folder has loaded.
        gtk_file_chooser_set_filename(chooser, file);
        for (int waited = 0; waited < 5000; waited += 10) {
            char* selected = gtk_file_chooser_get_filename(chooser);
            int done = selected != nullptr && strcmp(selected, file) == 0;
            g_free(selected);
            if (done) break;
            while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
            g_usleep(10 * 1000);
        }
        unsigned number;
        {
            std::lock_guard<std::mutex> hold(GTK_THREAD.lock);
            number = RUN.number;
        }
        QueueOnGtkThread(CancelDialog, number);
        gtk_dialog_response(GTK_DIALOG(at->data), GTK_RESPONSE_ACCEPT);
        break;
    }
    g_list_free(windows);
    g_free(file);
    return G_SOURCE_REMOVE;
}

}  // namespace

void AnswerGtkDialogWithCancelQueued(const char* file) {
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, AnswerWithCancelQueued, g_strdup(file), nullptr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

const PlatformDialogOps GTK_DIALOG_OPS = {
    GtkRunFileDialog,
    GtkPrepareFileDialog,
};
