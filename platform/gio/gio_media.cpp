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
    "  <method name='SetPosition'>"
    "   <arg direction='in' name='TrackId' type='o'/><arg direction='in' name='Position' type='x'/>"
    "  </method>"
    "  <signal name='Seeked'><arg name='Position' type='x'/></signal>"
    "  <property name='PlaybackStatus' type='s' access='read'/>"
    "  <property name='Rate' type='d' access='readwrite'/>"
    "  <property name='Position' type='x' access='read'>"
    "   <annotation name='org.freedesktop.DBus.Property.EmitsChangedSignal' value='false'/>"
    "  </property>"
    "  <property name='Volume' type='d' access='readwrite'/>"
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
    int64_t (*queryPosition)(void);  // the program's, asked on each read
    PlatformMediaRequest requests[MAX_MEDIA_REQUESTS];
    int firstRequest, requestCount;
};

GioMediaState G = {};

void QueueRequest(int kind, double value) {
    // A desktop that floods the program loses its oldest wishes, never memory.
    if (G.requestCount == MAX_MEDIA_REQUESTS) {
        G.firstRequest = (G.firstRequest + 1) % MAX_MEDIA_REQUESTS;
        G.requestCount--;
    }
    PlatformMediaRequest& r = G.requests[(G.firstRequest + G.requestCount) % MAX_MEDIA_REQUESTS];
    r.kind = kind;
    r.value = value;
    G.requestCount++;
}

// ---- Properties ----

// The object path naming the track shown: one of the player's own, since
// /org/mpris is the interface's.
void MakeTrackId(const PlatformMediaState& s, char* track, int size) {
    if (s.path[0] == '\0') {
        snprintf(track, (size_t)size, "%s", NO_TRACK);
        return;
    }
    int length = snprintf(track, (size_t)size, "/%s", G.name);
    // An object path's elements hold letters, digits and '_' only.
    for (int i = 1; i < length && i < size; i++) {
        if (!g_ascii_isalnum(track[i])) track[i] = '_';
    }
    snprintf(track + strlen(track), (size_t)size - strlen(track), "/track/%d", s.track);
}

GVariant* MakeMetadata(const PlatformMediaState& s) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    char track[96];
    MakeTrackId(s, track, sizeof track);
    g_variant_builder_add(&b, "{sv}", "mpris:trackid", g_variant_new_object_path(track));
    if (s.path[0] == '\0') return g_variant_builder_end(&b);
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
    if (strcmp(name, "PlaybackStatus") == 0) {
        return g_variant_new_string(s.playing ? "Playing" : s.paused ? "Paused" : "Stopped");
    }
    // Read when asked: the position moves with every sample played.
    if (strcmp(name, "Position") == 0) {
        int64_t position = G.queryPosition != nullptr ? G.queryPosition() : 0;
        return g_variant_new_int64(position > 0 ? position : 0);
    }
    if (strcmp(name, "Volume") == 0) return g_variant_new_double(s.volume);
    if (strcmp(name, "Rate") == 0) return g_variant_new_double(s.rate);
    if (strcmp(name, "MinimumRate") == 0) return g_variant_new_double(s.minimumRate);
    if (strcmp(name, "MaximumRate") == 0) return g_variant_new_double(s.maximumRate);
    if (strcmp(name, "Metadata") == 0) return MakeMetadata(s);
    if (strcmp(name, "CanGoNext") == 0 || strcmp(name, "CanGoPrevious") == 0) return g_variant_new_boolean(FALSE);
    if (strcmp(name, "CanPlay") == 0 || strcmp(name, "CanPause") == 0 || strcmp(name, "CanControl") == 0 ||
        strcmp(name, "CanSeek") == 0) {
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
    if (strcmp(interface, PLAYER_INTERFACE) == 0 && strcmp(name, "Volume") == 0) {
        double volume = g_variant_get_double(value);
        if (std::isnan(volume)) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "Volume must be a number");
            return FALSE;
        }
        // Below 0 is silence; the sound's own volume is the top.
        QueueRequest(MEDIA_REQUEST_SET_VOLUME, volume < 0 ? 0 : volume > 1 ? 1 : volume);
        return TRUE;
    }
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

// Seek moves by an offset, either way; SetPosition goes to a position of the
// track shown, and a call naming another track (one that was replaced) or a
// position outside the track does nothing.
void Jump(const char* method, GVariant* parameters) {
    if (strcmp(method, "Seek") == 0) {
        gint64 offset = 0;
        g_variant_get(parameters, "(x)", &offset);
        QueueRequest(MEDIA_REQUEST_SEEK, (double)offset);
        return;
    }
    const char* trackId = nullptr;
    gint64 position = 0;
    g_variant_get(parameters, "(&ox)", &trackId, &position);
    char track[96];
    MakeTrackId(G.shown, track, sizeof track);
    if (G.shown.path[0] == '\0' || strcmp(trackId, track) != 0) return;
    if (position < 0 || (G.shown.lengthMicroseconds > 0 && position > G.shown.lengthMicroseconds)) return;
    QueueRequest(MEDIA_REQUEST_SET_POSITION, (double)position);
}

void OnMethodCall(GDBusConnection*, const char*, const char*, const char* interface, const char* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, void*) {
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
        {PLAYER_INTERFACE, "Seek", MEDIA_REQUEST_SEEK},
        {PLAYER_INTERFACE, "SetPosition", MEDIA_REQUEST_SET_POSITION},
    };
    for (const Entry& e : table) {
        if (strcmp(e.interface, interface) != 0 || strcmp(e.method, method) != 0) continue;
        if (e.kind == MEDIA_REQUEST_SEEK || e.kind == MEDIA_REQUEST_SET_POSITION) {
            Jump(method, parameters);
        } else if (e.kind != 0) {
            QueueRequest(e.kind, 0);
        }
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
    G.shown.volume = 1;
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
    int status = old.playing != state->playing || old.paused != state->paused, rate = old.rate != state->rate;
    int volume = old.volume != state->volume;
    int minimum = old.minimumRate != state->minimumRate, maximum = old.maximumRate != state->maximumRate;
    int metadata = old.track != state->track || old.lengthMicroseconds != state->lengthMicroseconds ||
                   strcmp(old.path, state->path) != 0;
    if (!status && !rate && !volume && !minimum && !maximum && !metadata) return;
    G.shown = *state;
    GVariantBuilder changes;
    g_variant_builder_init(&changes, G_VARIANT_TYPE("a{sv}"));
    int count = 0;
    if (status) AddChange(&changes, &count, "PlaybackStatus");
    if (rate) AddChange(&changes, &count, "Rate");
    if (volume) AddChange(&changes, &count, "Volume");
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

void GioSetPositionQuery(int64_t (*query)(void)) { G.queryPosition = query; }

void GioAnnounceSeek(int64_t microseconds) {
    if (G.connection == nullptr) return;
    g_dbus_connection_emit_signal(G.connection, nullptr, OBJECT_PATH, PLAYER_INTERFACE, "Seeked",
                                  g_variant_new("(x)", (gint64)microseconds), nullptr);
}

const PlatformMediaOps GIO_MEDIA_OPS = {
    GioStartMedia, GioEndMedia, GioServeMedia, GioPublishMediaState, GioTakeMediaRequest,
    GioSetPositionQuery, GioAnnounceSeek,
};
