// gio_media.cpp: the desktop's media-player interface (MPRIS 2) on the session
// bus, through GIO's D-Bus.
//
// Nothing here runs on a thread of the program's own: the bus connection is
// made with a main context of its own as the thread's default, so its method
// calls and property requests are dispatched only when ServeMedia iterates
// that context, once, without waiting. The global default context is left to
// others (a dialog may run it on another thread). GIO's D-Bus does keep its
// own worker thread for the socket, which never calls in here.
//
// Method calls become requests that the library takes in order; the replies
// go out at once, so a caller never waits for the program's frame.
#include <gio/gio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/platform.h"

namespace {

enum { MAX_MEDIA_REQUESTS = 32, BUS_NAME_SIZE = 128 };

const char OBJECT_PATH[] = "/org/mpris/MediaPlayer2";
const char ROOT_INTERFACE[] = "org.mpris.MediaPlayer2";
const char PLAYER_INTERFACE[] = "org.mpris.MediaPlayer2.Player";
const char NO_TRACK[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

const char INTROSPECTION[] =
    "<node>"
    " <interface name='org.mpris.MediaPlayer2'>"
    "  <method name='Raise'/>"
    "  <method name='Quit'/>"
    "  <property name='CanQuit' type='b' access='read'/>"
    "  <property name='CanRaise' type='b' access='read'/>"
    "  <property name='HasTrackList' type='b' access='read'/>"
    "  <property name='Identity' type='s' access='read'/>"
    "  <property name='DesktopEntry' type='s' access='read'/>"
    "  <property name='SupportedUriSchemes' type='as' access='read'/>"
    "  <property name='SupportedMimeTypes' type='as' access='read'/>"
    " </interface>"
    " <interface name='org.mpris.MediaPlayer2.Player'>"
    "  <method name='Next'/>"
    "  <method name='Previous'/>"
    "  <method name='Pause'/>"
    "  <method name='PlayPause'/>"
    "  <method name='Stop'/>"
    "  <method name='Play'/>"
    "  <method name='Seek'><arg direction='in' name='Offset' type='x'/></method>"
    "  <property name='PlaybackStatus' type='s' access='read'/>"
    "  <property name='Rate' type='d' access='readwrite'/>"
    "  <property name='Metadata' type='a{sv}' access='read'/>"
    "  <property name='MinimumRate' type='d' access='read'/>"
    "  <property name='MaximumRate' type='d' access='read'/>"
    "  <property name='CanGoNext' type='b' access='read'/>"
    "  <property name='CanGoPrevious' type='b' access='read'/>"
    "  <property name='CanPlay' type='b' access='read'/>"
    "  <property name='CanPause' type='b' access='read'/>"
    "  <property name='CanSeek' type='b' access='read'/>"
    "  <property name='CanControl' type='b' access='read'/>"
    " </interface>"
    "</node>";

struct GioMediaState {
    GMainContext* context;        // ours; null when not started
    GDBusConnection* connection;
    GDBusNodeInfo* node;
    unsigned rootId, playerId;    // registrations
    char name[64];                // the program's name on the bus and its desktop entry
    char identity[64];
    PlatformMediaState shown;     // what the desktop was last told
    PlatformMediaRequest requests[MAX_MEDIA_REQUESTS];
    int firstRequest, requestCount;
};

GioMediaState G = {};

void QueueRequest(int kind, double rate) {
    // A desktop that floods the program loses its oldest wishes, never memory.
    if (G.requestCount == MAX_MEDIA_REQUESTS) {
        G.firstRequest = (G.firstRequest + 1) % MAX_MEDIA_REQUESTS;
        G.requestCount--;
    }
    PlatformMediaRequest& r = G.requests[(G.firstRequest + G.requestCount) % MAX_MEDIA_REQUESTS];
    r.kind = kind;
    r.rate = rate;
    G.requestCount++;
}

// ---- Properties ----

GVariant* MakeMetadata(const PlatformMediaState& s) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    if (s.path[0] == '\0') {
        g_variant_builder_add(&b, "{sv}", "mpris:trackid", g_variant_new_object_path(NO_TRACK));
        return g_variant_builder_end(&b);
    }
    // A path of the player's own: /org/mpris is the interface's.
    char track[96];
    int length = snprintf(track, sizeof track, "/%s", G.name);
    // An object path's elements hold letters, digits and '_' only.
    for (int i = 1; i < length && i < (int)sizeof track; i++) {
        if (!g_ascii_isalnum(track[i])) track[i] = '_';
    }
    snprintf(track + strlen(track), sizeof track - strlen(track), "/track/%d", s.track);
    g_variant_builder_add(&b, "{sv}", "mpris:trackid", g_variant_new_object_path(track));
    const char* slash = strrchr(s.path, '/');
    // The bus carries UTF-8 only: a name in another encoding is shown with replacements.
    char* title = g_utf8_make_valid(slash != nullptr ? slash + 1 : s.path, -1);
    g_variant_builder_add(&b, "{sv}", "xesam:title", g_variant_new_string(title));
    g_free(title);
    char* uri = g_filename_to_uri(s.path, nullptr, nullptr);
    if (uri != nullptr) g_variant_builder_add(&b, "{sv}", "xesam:url", g_variant_new_string(uri));
    g_free(uri);
    if (s.lengthMicroseconds > 0) g_variant_builder_add(&b, "{sv}", "mpris:length", g_variant_new_int64(s.lengthMicroseconds));
    return g_variant_builder_end(&b);
}

GVariant* GetPlayerProperty(const char* name) {
    const PlatformMediaState& s = G.shown;
    if (strcmp(name, "PlaybackStatus") == 0) return g_variant_new_string(s.playing ? "Playing" : "Stopped");
    if (strcmp(name, "Rate") == 0) return g_variant_new_double(s.rate);
    if (strcmp(name, "MinimumRate") == 0) return g_variant_new_double(s.minimumRate);
    if (strcmp(name, "MaximumRate") == 0) return g_variant_new_double(s.maximumRate);
    if (strcmp(name, "Metadata") == 0) return MakeMetadata(s);
    if (strcmp(name, "CanGoNext") == 0 || strcmp(name, "CanGoPrevious") == 0 || strcmp(name, "CanSeek") == 0) {
        return g_variant_new_boolean(FALSE);
    }
    if (strcmp(name, "CanPlay") == 0 || strcmp(name, "CanPause") == 0 || strcmp(name, "CanControl") == 0) {
        return g_variant_new_boolean(TRUE);
    }
    return nullptr;
}

GVariant* GetRootProperty(const char* name) {
    if (strcmp(name, "CanQuit") == 0 || strcmp(name, "CanRaise") == 0) return g_variant_new_boolean(TRUE);
    if (strcmp(name, "HasTrackList") == 0) return g_variant_new_boolean(FALSE);
    if (strcmp(name, "Identity") == 0) return g_variant_new_string(G.identity);
    if (strcmp(name, "DesktopEntry") == 0) return g_variant_new_string(G.name);
    if (strcmp(name, "SupportedUriSchemes") == 0 || strcmp(name, "SupportedMimeTypes") == 0) {
        return g_variant_new_strv(nullptr, 0);
    }
    return nullptr;
}

GVariant* OnGetProperty(GDBusConnection*, const char*, const char*, const char* interface, const char* name,
                        GError** error, void*) {
    GVariant* value = strcmp(interface, PLAYER_INTERFACE) == 0 ? GetPlayerProperty(name) : GetRootProperty(name);
    if (value == nullptr) g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", name);
    return value;
}

gboolean OnSetProperty(GDBusConnection*, const char*, const char*, const char* interface, const char* name,
                       GVariant* value, GError** error, void*) {
    if (strcmp(interface, PLAYER_INTERFACE) != 0 || strcmp(name, "Rate") != 0) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "%s is read-only", name);
        return FALSE;
    }
    double rate = g_variant_get_double(value);
    if (!std::isfinite(rate) || rate < 0) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "Rate must be a number of 0 or more");
        return FALSE;
    }
    // A rate of 0 is a pause; the rate itself stays.
    if (rate == 0) {
        QueueRequest(MEDIA_REQUEST_PAUSE, 0);
    } else {
        QueueRequest(MEDIA_REQUEST_SET_RATE, rate);
    }
    return TRUE;
}

// ---- Methods ----

void OnMethodCall(GDBusConnection*, const char*, const char*, const char* interface, const char* method,
                  GVariant*, GDBusMethodInvocation* invocation, void*) {
    struct Entry {
        const char* interface;
        const char* method;
        int kind;  // 0: offered but does nothing here
    } const table[] = {
        {ROOT_INTERFACE, "Raise", MEDIA_REQUEST_RAISE},
        {ROOT_INTERFACE, "Quit", MEDIA_REQUEST_QUIT},
        {PLAYER_INTERFACE, "Play", MEDIA_REQUEST_PLAY},
        {PLAYER_INTERFACE, "Pause", MEDIA_REQUEST_PAUSE},
        {PLAYER_INTERFACE, "PlayPause", MEDIA_REQUEST_PLAY_PAUSE},
        {PLAYER_INTERFACE, "Stop", MEDIA_REQUEST_STOP},
        {PLAYER_INTERFACE, "Next", 0},
        {PLAYER_INTERFACE, "Previous", 0},
        {PLAYER_INTERFACE, "Seek", 0},
    };
    for (const Entry& e : table) {
        if (strcmp(e.interface, interface) != 0 || strcmp(e.method, method) != 0) continue;
        if (e.kind != 0) QueueRequest(e.kind, 0);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        return;
    }
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
}

const GDBusInterfaceVTable VTABLE = {OnMethodCall, OnGetProperty, OnSetProperty, {}};

// ---- Operations ----

// The session bus's address from the environment only: GIO would otherwise
// try to launch a bus of its own for the display, and say so when it fails.
char* FindSessionBus(void) {
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') return g_strdup(address);
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] == '\0') return nullptr;
    char* socket = g_build_filename(runtime, "bus", nullptr);
    char* found = nullptr;
    if (access(socket, R_OK | W_OK) == 0) {
        char* escaped = g_dbus_address_escape_value(socket);
        found = g_strdup_printf("unix:path=%s", escaped);
        g_free(escaped);
    }
    g_free(socket);
    return found;
}

// 1 when the name is now ours.
int RequestName(const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(
        G.connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name, 4u /* DBUS_NAME_FLAG_DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply == nullptr) return 0;
    unsigned result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    return result == 1 /* PRIMARY_OWNER */;
}

void GioEndMedia(void);

int GioStartMedia(const char* name, const char* identity) {
    if (G.context != nullptr) return -1;
    char* address = FindSessionBus();
    if (address == nullptr) return -1;
    snprintf(G.name, sizeof G.name, "%s", name);
    snprintf(G.identity, sizeof G.identity, "%s", identity);
    G.context = g_main_context_new();
    // Everything made now reports to our context, never the global default one.
    g_main_context_push_thread_default(G.context);
    G.connection = g_dbus_connection_new_for_address_sync(
        address,
        (GDBusConnectionFlags)(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    int ok = G.connection != nullptr;
    if (ok) {
        g_dbus_connection_set_exit_on_close(G.connection, FALSE);
        G.node = g_dbus_node_info_new_for_xml(INTROSPECTION, nullptr);
        G.rootId = g_dbus_connection_register_object(G.connection, OBJECT_PATH, G.node->interfaces[0], &VTABLE,
                                                     nullptr, nullptr, nullptr);
        G.playerId = g_dbus_connection_register_object(G.connection, OBJECT_PATH, G.node->interfaces[1], &VTABLE,
                                                       nullptr, nullptr, nullptr);
        ok = G.rootId != 0 && G.playerId != 0;
    }
    if (ok) {
        // A second player of the same user (on another display) takes a name of its own.
        char bus[BUS_NAME_SIZE];
        snprintf(bus, sizeof bus, "org.mpris.MediaPlayer2.%s", G.name);
        if (!RequestName(bus)) {
            snprintf(bus, sizeof bus, "org.mpris.MediaPlayer2.%s.instance%ld", G.name, (long)getpid());
            ok = RequestName(bus);
        }
    }
    g_main_context_pop_thread_default(G.context);
    G.shown = PlatformMediaState{};
    G.firstRequest = G.requestCount = 0;
    if (!ok) {
        GioEndMedia();
        return -1;
    }
    return 0;
}

void GioEndMedia(void) {
    if (G.context == nullptr) return;
    if (G.connection != nullptr) {
        // Replies already given leave first: the reply to Quit is the last
        // one, and a close does not wait for the bus's worker to write it.
        g_dbus_connection_flush_sync(G.connection, nullptr, nullptr);
        if (G.rootId != 0) g_dbus_connection_unregister_object(G.connection, G.rootId);
        if (G.playerId != 0) g_dbus_connection_unregister_object(G.connection, G.playerId);
        // Closing gives the name back at once, rather than when the process ends.
        g_dbus_connection_close_sync(G.connection, nullptr, nullptr);
        g_object_unref(G.connection);
    }
    if (G.node != nullptr) g_dbus_node_info_unref(G.node);
    // What the connection left for our context is released with it.
    while (g_main_context_iteration(G.context, FALSE)) {
    }
    g_main_context_unref(G.context);
    G = GioMediaState{};
}

void GioServeMedia(void) {
    if (G.context != nullptr) g_main_context_iteration(G.context, FALSE);
}

void AddChange(GVariantBuilder* changes, int* count, const char* name) {
    g_variant_builder_add(changes, "{sv}", name, GetPlayerProperty(name));
    (*count)++;
}

// Called every frame: what is unchanged costs a few comparisons and nothing else.
void GioPublishMediaState(const PlatformMediaState* state) {
    if (G.connection == nullptr) return;
    const PlatformMediaState& old = G.shown;
    int status = old.playing != state->playing, rate = old.rate != state->rate;
    int minimum = old.minimumRate != state->minimumRate, maximum = old.maximumRate != state->maximumRate;
    int metadata = old.track != state->track || old.lengthMicroseconds != state->lengthMicroseconds ||
                   strcmp(old.path, state->path) != 0;
    if (!status && !rate && !minimum && !maximum && !metadata) return;
    G.shown = *state;
    GVariantBuilder changes;
    g_variant_builder_init(&changes, G_VARIANT_TYPE("a{sv}"));
    int count = 0;
    if (status) AddChange(&changes, &count, "PlaybackStatus");
    if (rate) AddChange(&changes, &count, "Rate");
    if (minimum) AddChange(&changes, &count, "MinimumRate");
    if (maximum) AddChange(&changes, &count, "MaximumRate");
    if (metadata) AddChange(&changes, &count, "Metadata");
    // Queued to the bus's worker: never waits.
    g_dbus_connection_emit_signal(G.connection, nullptr, OBJECT_PATH, "org.freedesktop.DBus.Properties",
                                  "PropertiesChanged",
                                  g_variant_new("(sa{sv}as)", PLAYER_INTERFACE, &changes, nullptr), nullptr);
}

int GioTakeMediaRequest(PlatformMediaRequest* request) {
    if (G.requestCount == 0) return 0;
    *request = G.requests[G.firstRequest];
    G.firstRequest = (G.firstRequest + 1) % MAX_MEDIA_REQUESTS;
    G.requestCount--;
    return 1;
}

}  // namespace

const PlatformMediaOps GIO_MEDIA_OPS = {
    GioStartMedia, GioEndMedia, GioServeMedia, GioPublishMediaState, GioTakeMediaRequest,
};
