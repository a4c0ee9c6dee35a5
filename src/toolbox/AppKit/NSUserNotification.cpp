// SPDX-License-Identifier: GPL-2.0-or-later
// Notifications through org.freedesktop.Notifications, every call asynchronous on the main run
// loop: the server's capabilities are asked once it is first needed, and what is delivered
// meanwhile waits for that answer. No answer means no server: what waits is dropped quietly.
#include "toolbox/AppKit/NSUserNotification.h"

#include <gio/gio.h>

#include <deque>
#include <optional>
#include <utility>

namespace {

constexpr const char* kServerName = "org.freedesktop.Notifications";
constexpr const char* kServerPath = "/org/freedesktop/Notifications";
constexpr const char* kServerInterface = "org.freedesktop.Notifications";
// A server that takes longer than this is treated as absent; nothing ever waits on it.
constexpr int kServerAnswerMs = 5000;

// Replies and signals come back on the main run loop even when a caller runs a context of its own.
class OnMainLoop {
 public:
  OnMainLoop() { g_main_context_push_thread_default(nullptr); }
  ~OnMainLoop() { g_main_context_pop_thread_default(nullptr); }
  OnMainLoop(const OnMainLoop&) = delete;
  OnMainLoop& operator=(const OnMainLoop&) = delete;
};

std::string validText(const std::string& s) {
  gchar* valid = g_utf8_make_valid(s.c_str(), gssize(s.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

}  // namespace

struct NSUserNotificationCenter::Server {
  enum class State { unknown, asking, ready };

  explicit Server(NSUserNotificationCenter* owner) : center(owner) {}

  NSUserNotificationCenter* center;
  GDBusConnection* bus = nullptr;  // owned once set
  State state = State::unknown;
  bool markup = false;   // the server reads the body as markup: text must be escaped
  bool actions = false;  // the server shows buttons
  guint invokedSubscription = 0;
  guint closedSubscription = 0;
  std::deque<NSUserNotification> waiting;       // delivered while the server was being asked
  std::map<guint32, NSUserNotification> shown;  // by the server's ID, until it is closed
  std::map<std::string, guint32> shownAs;       // identifier -> the server's ID
  // Identifiers whose notification the server has not yet given an ID: the next one with that
  // identifier must wait for it to replace it rather than stand beside it.
  std::map<std::string, std::optional<NSUserNotification>> unanswered;

  void deliver(const NSUserNotification& n) {
    if (bus != nullptr && g_dbus_connection_is_closed(bus)) forgetBus();
    if (bus == nullptr) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return;
    switch (state) {
      case State::ready:
        post(n);
        return;
      case State::asking:
        waiting.push_back(n);
        return;
      case State::unknown: {
        waiting.push_back(n);
        state = State::asking;
        OnMainLoop main;
        g_dbus_connection_call(bus, kServerName, kServerPath, kServerInterface, "GetCapabilities", nullptr,
                               G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kServerAnswerMs, nullptr,
                               &Server::onCapabilities, this);
        return;
      }
    }
  }

  static void onCapabilities(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<Server*>(data);
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply == nullptr) {
      self->state = State::unknown;
      self->waiting.clear();
      return;
    }
    self->markup = self->actions = false;
    GVariantIter* it = nullptr;
    const gchar* capability = nullptr;
    g_variant_get(reply, "(as)", &it);
    while (g_variant_iter_next(it, "&s", &capability)) {
      self->markup = self->markup || g_strcmp0(capability, "body-markup") == 0;
      self->actions = self->actions || g_strcmp0(capability, "actions") == 0;
    }
    g_variant_iter_free(it);
    g_variant_unref(reply);
    self->state = State::ready;
    self->subscribe();
    std::deque<NSUserNotification> queued;
    queued.swap(self->waiting);
    for (const NSUserNotification& n : queued) self->post(n);
  }

  // The session bus went away: start afresh with the next one.
  void forgetBus() {
    if (invokedSubscription != 0) {
      g_dbus_connection_signal_unsubscribe(bus, invokedSubscription);
      g_dbus_connection_signal_unsubscribe(bus, closedSubscription);
      invokedSubscription = closedSubscription = 0;
    }
    g_object_unref(bus);
    bus = nullptr;
    state = State::unknown;
    waiting.clear();
    shown.clear();
    shownAs.clear();
    unanswered.clear();
  }

  void subscribe() {
    if (invokedSubscription != 0) return;
    OnMainLoop main;
    invokedSubscription = g_dbus_connection_signal_subscribe(bus, kServerName, kServerInterface, "ActionInvoked",
                                                             kServerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                             &Server::onActionInvoked, this, nullptr);
    closedSubscription = g_dbus_connection_signal_subscribe(bus, kServerName, kServerInterface, "NotificationClosed",
                                                            kServerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                            &Server::onClosed, this, nullptr);
  }

  struct Posting {
    Server* server;
    NSUserNotification notification;
    guint32 replaced;
  };

  void post(const NSUserNotification& n) {
    if (!n.identifier.empty()) {
      auto pending = unanswered.find(n.identifier);
      if (pending != unanswered.end()) {
        pending->second = n;  // an earlier one still waiting would be replaced at once anyway
        return;
      }
      unanswered[n.identifier];
    }
    auto found = n.identifier.empty() ? shownAs.end() : shownAs.find(n.identifier);
    const guint32 replaces = found == shownAs.end() ? 0 : found->second;

    GVariantBuilder actionList;
    g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
    if (actions && !n.actionButtonTitle.empty()) {
      for (const char* key : {"default", "button"}) {
        g_variant_builder_add(&actionList, "s", key);
        g_variant_builder_add(&actionList, "s", n.actionButtonTitle.c_str());
      }
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
    if (n.transient) g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
    // No "desktop-entry" hint: a desktop that knows the entry activates the application when a
    // notification without an action is clicked, and activation brings up the open panel.
    // Text from file names need not be UTF-8, which is all the bus carries.
    const std::string appName = validText(center->mApplicationName), icon = validText(center->mApplicationIcon);
    const std::string title = validText(n.title), text = validText(n.informativeText);
    gchar* body = markup ? g_markup_escape_text(text.c_str(), -1) : g_strdup(text.c_str());
    OnMainLoop main;
    g_dbus_connection_call(bus, kServerName, kServerPath, kServerInterface, "Notify",
                           g_variant_new("(susssasa{sv}i)", appName.c_str(), replaces, icon.c_str(), title.c_str(),
                                         body, &actionList, &hints, -1),
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kServerAnswerMs, nullptr, &Server::onPosted,
                           new Posting{this, n, replaces});
    g_free(body);
  }

  static void onPosted(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Posting> posting(static_cast<Posting*>(data));
    Server* self = posting->server;
    const NSUserNotification& n = posting->notification;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply != nullptr) {
      guint32 id = 0;
      g_variant_get(reply, "(u)", &id);
      g_variant_unref(reply);
      if (posting->replaced != 0 && posting->replaced != id) self->shown.erase(posting->replaced);
      self->shown[id] = n;
      if (!n.identifier.empty()) self->shownAs[n.identifier] = id;
    } else {
      // The server has gone or stopped answering: ask again before the next one.
      self->state = State::unknown;
    }
    if (n.identifier.empty()) return;
    auto pending = self->unanswered.find(n.identifier);
    if (pending == self->unanswered.end()) return;
    std::optional<NSUserNotification> next = std::move(pending->second);
    self->unanswered.erase(pending);
    if (next) self->deliver(*next);
  }

  static void onActionInvoked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                              GVariant* parameters, gpointer data) {
    auto* self = static_cast<Server*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    guint32 id = 0;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &key);
    auto it = self->shown.find(id);
    NSUserNotificationCenterDelegate* delegate = self->center->mDelegate;
    if (it == self->shown.end() || delegate == nullptr || it->second.actionButtonTitle.empty()) return;
    const NSUserNotification n = it->second;  // the delegate may deliver more
    delegate->didActivateNotification(n, g_strcmp0(key, "default") == 0
                                             ? NSUserNotificationActivationType::contentsClicked
                                             : NSUserNotificationActivationType::actionButtonClicked);
  }

  static void onClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                       gpointer data) {
    auto* self = static_cast<Server*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) return;
    guint32 id = 0, reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    self->shown.erase(id);
    for (auto it = self->shownAs.begin(); it != self->shownAs.end();)
      it = it->second == id ? self->shownAs.erase(it) : std::next(it);
  }
};

NSUserNotificationCenter& NSUserNotificationCenter::defaultUserNotificationCenter() {
  // Never destroyed: a reply that arrives late must not find it gone.
  static NSUserNotificationCenter* center = new NSUserNotificationCenter();
  return *center;
}

void NSUserNotificationCenter::deliverNotification(const NSUserNotification& notification) {
  if (!mServer) mServer = std::make_shared<Server>(this);
  mServer->deliver(notification);
}
