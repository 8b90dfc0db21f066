#include "Recorder/Sources/Wayland/ScreenCastPortal.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glog/logging.h>

namespace Vantor::Lumo::Recorder {

namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
// The portal answers its own questions at once; only Start waits for the user, by signal.
constexpr int kCallLimitMs = 10'000;
constexpr guint32 kMonitor = 1;
constexpr guint32 kWindow = 2;
constexpr guint32 kCursorHidden = 1;
constexpr guint32 kCursorEmbedded = 2;
// Until the user revokes it, not only for this run of the desktop.
constexpr guint32 kPersistUntilRevoked = 2;

const char* const kNoPortal =
    "there is no screen-cast portal on the session bus (install xdg-desktop-portal and the "
    "portal backend of your desktop)";

struct UnrefVariant {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using VariantPtr = std::unique_ptr<GVariant, UnrefVariant>;

std::string TakeMessage(GError* error) {
    g_dbus_error_strip_remote_error(error);
    std::string message = error->message;
    g_error_free(error);
    return message;
}

// The answer of one portal request: its Response signal.
struct Response {
    bool done = false;
    guint32 code = 2;
    GVariant* results = nullptr;  // a{sv}, owned

    ~Response() {
        if (results) {
            g_variant_unref(results);
        }
    }
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
    auto& response = **static_cast<std::shared_ptr<Response>*>(data);
    if (!response.done) {
        g_variant_get(parameters, "(u@a{sv})", &response.code, &response.results);
        response.done = true;
    }
}

void OnClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
              gpointer data) {
    VLOG(1) << "lumo: the desktop closed the screen-cast session";
    static_cast<std::atomic<bool>*>(data)->store(true);
}

std::string DescribeFailure(const char* step, guint32 code) {
    if (code == 1) {
        return "the screen-cast dialog was cancelled";
    }
    return std::string("the desktop's screen-cast portal failed (") + step + ")";
}

}  // namespace

struct CastSession::Bus {
    GMainContext* context = g_main_context_new();
    std::thread thread;  // runs the context once the handshake is done
    std::atomic<bool> stopping{false};
    GDBusConnection* connection = nullptr;
    std::string sender;  // our unique name as request paths spell it
    std::string session;
    guint closedSubscription = 0;
    int fd = -1;
    std::uint32_t node = 0;
    std::string token;
    bool tokenRefused = false;
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
    unsigned requests = 0;

    // Signals reach the context of the thread that subscribed: the handshake's thread runs it
    // while it waits for answers; afterwards a thread of its own waits for Closed.
    void Listen() {
        thread = std::thread([this] {
            g_main_context_push_thread_default(context);
            while (!stopping) {
                g_main_context_iteration(context, TRUE);
            }
            g_main_context_pop_thread_default(context);
        });
    }

    ~Bus() {
        if (connection) {
            if (closedSubscription) {
                g_dbus_connection_signal_unsubscribe(connection, closedSubscription);
            }
            if (!session.empty() && !closed->load()) {
                GVariant* reply = g_dbus_connection_call_sync(
                    connection, kPortal, session.c_str(), "org.freedesktop.portal.Session", "Close",
                    nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
                if (reply) {
                    g_variant_unref(reply);
                }
            }
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        if (thread.joinable()) {
            stopping = true;
            g_main_context_wakeup(context);
            thread.join();
        }
        g_main_context_unref(context);
        if (fd >= 0) {
            ::close(fd);
        }
    }

    void Connect() {
        // GIO would otherwise start a bus of its own through X11 autolaunch.
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const std::string standard = runtime ? std::string(runtime) + "/bus" : std::string();
        if ((!address || !*address) && (standard.empty() || ::access(standard.c_str(), F_OK))) {
            throw std::runtime_error(
                "there is no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is unset), which a "
                "Wayland screen recording needs");
        }
        const std::string where =
            address && *address ? std::string(address) : "unix:path=" + standard;
        GError* error = nullptr;
        connection = g_dbus_connection_new_for_address_sync(
            where.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (!connection) {
            throw std::runtime_error("can not reach the D-Bus session bus: " + TakeMessage(error));
        }
        sender = g_dbus_connection_get_unique_name(connection) + 1;
        for (char& c : sender) {
            c = c == '.' ? '_' : c;
        }
    }

    // The portal's properties; throws when there is none.
    GVariant* Properties() {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "GetAll",
            g_variant_new("(s)", kScreenCast), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE,
            kCallLimitMs, nullptr, &error);
        if (!reply) {
            LOG(INFO) << "lumo: the screen-cast portal does not answer: " << TakeMessage(error);
            throw std::runtime_error(kNoPortal);
        }
        GVariant* properties = g_variant_get_child_value(reply, 0);
        g_variant_unref(reply);
        if (g_variant_n_children(properties) == 0) {
            throw std::runtime_error(kNoPortal);
        }
        return properties;
    }

    std::string NextToken() {
        return "lumo" + std::to_string(::getpid()) + "_" + std::to_string(++requests);
    }

    // Calls `method` of the portal, whose options get a handle token, and waits for its
    // Response. Throws a GError's message as std::runtime_error; `error` receives it instead
    // when given.
    std::shared_ptr<Response> Request(const char* method, const std::string& handleToken,
                                      GVariant* parameters, GError** error = nullptr) {
        const std::string path =
            std::string(kPortalPath) + "/request/" + sender + "/" + handleToken;
        auto response = std::make_shared<Response>();
        const guint subscription = g_dbus_connection_signal_subscribe(
            connection, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(),
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, new std::shared_ptr<Response>(response),
            [](gpointer data) { delete static_cast<std::shared_ptr<Response>*>(data); });
        GError* failure = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            connection, kPortal, kPortalPath, kScreenCast, method, parameters,
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallLimitMs, nullptr, &failure);
        if (!reply) {
            g_dbus_connection_signal_unsubscribe(connection, subscription);
            if (error) {
                *error = failure;
                return nullptr;
            }
            throw std::runtime_error(std::string("the screen-cast portal refused ") + method +
                                     ": " + TakeMessage(failure));
        }
        g_variant_unref(reply);
        while (!response->done) {
            g_main_context_iteration(context, TRUE);
        }
        g_dbus_connection_signal_unsubscribe(connection, subscription);
        return response;
    }

    GVariant* SelectOptions(const CastRequest& request, GVariant* properties,
                            const std::optional<std::string>& token,
                            const std::string& handleToken) {
        guint32 cursorModes = 0;
        guint32 version = 0;
        g_variant_lookup(properties, "AvailableCursorModes", "u", &cursorModes);
        g_variant_lookup(properties, "version", "u", &version);
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(handleToken.c_str()));
        g_variant_builder_add(&options, "{sv}", "types",
                              g_variant_new_uint32(request.window ? kWindow : kMonitor));
        g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
        const guint32 cursor = request.cursor ? kCursorEmbedded : kCursorHidden;
        if (cursorModes & cursor) {
            g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(cursor));
        }
        if (version >= 4) {
            g_variant_builder_add(&options, "{sv}", "persist_mode",
                                  g_variant_new_uint32(kPersistUntilRevoked));
            if (token) {
                g_variant_builder_add(&options, "{sv}", "restore_token",
                                      g_variant_new_string(token->c_str()));
            }
        }
        return g_variant_new("(oa{sv})", session.c_str(), &options);
    }

    void Handshake(const CastRequest& request) {
        const VariantPtr owned(Properties());
        GVariant* properties = owned.get();
        guint32 sourceTypes = 0;
        g_variant_lookup(properties, "AvailableSourceTypes", "u", &sourceTypes);
        if (request.window && !(sourceTypes & kWindow)) {
            throw std::runtime_error(
                "the desktop's screen-cast portal can not record a single window; leave out "
                "--window to record a monitor");
        }

        const std::string createToken = NextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(createToken.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token",
                              g_variant_new_string(NextToken().c_str()));
        auto created = Request("CreateSession", createToken, g_variant_new("(a{sv})", &options));
        const gchar* handle = nullptr;
        if (created->code != 0 ||
            !g_variant_lookup(created->results, "session_handle", "&s", &handle)) {
            throw std::runtime_error(DescribeFailure("CreateSession", created->code));
        }
        session = handle;
        closedSubscription = g_dbus_connection_signal_subscribe(
            connection, nullptr, "org.freedesktop.portal.Session", "Closed", session.c_str(),
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnClosed, closed.get(), nullptr);

        std::optional<std::string> offered = request.restoreToken;
        std::string selectToken = NextToken();
        GError* error = nullptr;
        auto selected = Request("SelectSources", selectToken,
                                SelectOptions(request, properties, offered, selectToken), &error);
        if (!selected && offered) {
            // A token that is no UUID is an invalid argument: ask again without it.
            LOG(INFO) << "lumo: the portal refused the stored screen-cast token: "
                      << TakeMessage(error);
            tokenRefused = true;
            offered.reset();
            selectToken = NextToken();
            selected = Request("SelectSources", selectToken,
                               SelectOptions(request, properties, offered, selectToken));
        } else if (!selected) {
            throw std::runtime_error("the screen-cast portal refused SelectSources: " +
                                     TakeMessage(error));
        }
        if (selected->code != 0) {
            throw std::runtime_error(DescribeFailure("SelectSources", selected->code));
        }

        const std::string startToken = NextToken();
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(startToken.c_str()));
        auto started =
            Request("Start", startToken, g_variant_new("(osa{sv})", session.c_str(), "", &options));
        if (started->code != 0) {
            throw std::runtime_error(DescribeFailure("Start", started->code));
        }
        GVariant* streams =
            g_variant_lookup_value(started->results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
        if (!streams || g_variant_n_children(streams) == 0) {
            if (streams) {
                g_variant_unref(streams);
            }
            throw std::runtime_error("the desktop's screen-cast portal shared no stream");
        }
        g_variant_get_child(streams, 0, "(u@a{sv})", &node, nullptr);
        g_variant_unref(streams);
        const gchar* restore = nullptr;
        if (g_variant_lookup(started->results, "restore_token", "&s", &restore)) {
            token = restore;
        }
        OpenRemote();
    }

    void OpenRemote() {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        GUnixFDList* fds = nullptr;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
            connection, kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", session.c_str(), &options), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, kCallLimitMs, nullptr, &fds, nullptr, &error);
        if (!reply) {
            throw std::runtime_error("the screen-cast portal gave no PipeWire connection: " +
                                     TakeMessage(error));
        }
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        fd = fds ? g_unix_fd_list_get(fds, index, &error) : -1;
        if (fds) {
            g_object_unref(fds);
        }
        if (fd < 0) {
            throw std::runtime_error("the screen-cast portal gave no PipeWire connection");
        }
    }
};

CastSession::CastSession(const CastRequest& request) : bus_(std::make_unique<Bus>()) {
    // Pushed before the connection is made, so that its signals come to this context.
    struct Pushed {
        explicit Pushed(GMainContext* context) : context(context) {
            g_main_context_push_thread_default(context);
        }
        ~Pushed() { g_main_context_pop_thread_default(context); }
        GMainContext* context;
    };
    {
        const Pushed pushed(bus_->context);
        bus_->Connect();
        bus_->Handshake(request);
    }
    bus_->Listen();
}

CastSession::~CastSession() = default;

int CastSession::PipeWireFd() const {
    return bus_->fd;
}

std::uint32_t CastSession::Node() const {
    return bus_->node;
}

const std::string& CastSession::RestoreToken() const {
    return bus_->token;
}

bool CastSession::TokenRefused() const {
    return bus_->tokenRefused;
}

const std::shared_ptr<std::atomic<bool>>& CastSession::Closed() const {
    return bus_->closed;
}

}  // namespace Vantor::Lumo::Recorder
