// SPDX-License-Identifier: GPL-2.0-or-later
// NSApplication over GApplication: the first instance in a session owns the bus name and serves
// Apple events, desktop open requests, activations and actions; later ones hand theirs over.
#include "toolbox/AppKit/NSApplication.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <cstring>

#include "toolbox/AppKit/NSAppleEventManager.h"
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/AppKit/NSTimer.h"
#include "toolbox/AppleEvents/AEBusReceiver.h"

// A GApplication that publishes the Apple event object while it registers, before it owns its
// name: an event that started the process by bus activation must find the object in place.
struct S2MApplication {
  GApplication parent_instance;
};
struct S2MApplicationClass {
  GApplicationClass parent_class;
};
G_DEFINE_TYPE(S2MApplication, s2m_application, G_TYPE_APPLICATION)

static gboolean s2m_application_dbus_register(GApplication* app, GDBusConnection* connection, const gchar* path,
                                              GError** error) {
  if (!G_APPLICATION_CLASS(s2m_application_parent_class)->dbus_register(app, connection, path, error)) return FALSE;
  AEPublishOnConnection(connection);
  return TRUE;
}

static void s2m_application_dbus_unregister(GApplication* app, GDBusConnection* connection, const gchar* path) {
  AEUnpublish();
  G_APPLICATION_CLASS(s2m_application_parent_class)->dbus_unregister(app, connection, path);
}

static void s2m_application_class_init(S2MApplicationClass* klass) {
  GApplicationClass* app = G_APPLICATION_CLASS(klass);
  app->dbus_register = s2m_application_dbus_register;
  app->dbus_unregister = s2m_application_dbus_unregister;
}

static void s2m_application_init(S2MApplication*) {}

namespace {

std::vector<std::string> pathsOf(GFile** files, gint n) {
  std::vector<std::string> paths;
  for (gint i = 0; i < n; ++i) {
    gchar* p = g_file_get_path(files[i]);
    if (p != nullptr) {
      paths.emplace_back(p);
    } else {
      gchar* uri = g_file_get_uri(files[i]);
      NSLog("Cannot open %s: not a local file", uri ? uri : "?");
      g_free(uri);
    }
    g_free(p);
  }
  return paths;
}

void onOpen(GApplication*, GFile** files, gint n, gchar*, gpointer) {
  NSApplication::sharedApplication()->openFiles(pathsOf(files, n));
}

// Activation and actions may bring up the modal panel, so they run from the run loop after the
// desktop's call has been answered, rather than keeping the caller waiting for the user.
void later(std::function<void()> work) {
  auto* w = new std::function<void()>(std::move(work));
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      w, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void onActivate(GApplication*, gpointer) {
  later([] { NSApplication::sharedApplication()->activate(); });
}

void onAction(GSimpleAction* action, GVariant*, gpointer) {
  std::string name = g_action_get_name(G_ACTION(action));
  later([name] { NSApplication::sharedApplication()->performAction(name); });
}

int documentFailures = 0;

}  // namespace

NSApplication* NSApplication::sharedApplication() {
  static NSApplication app;
  return &app;
}

void NSApplication::addAction(const std::string& name, std::function<void()> action) {
  mActions[name] = std::move(action);
  if (mApp != nullptr && g_action_map_lookup_action(G_ACTION_MAP(mApp), name.c_str()) == nullptr) {
    GSimpleAction* a = g_simple_action_new(name.c_str(), nullptr);
    g_signal_connect(a, "activate", G_CALLBACK(onAction), nullptr);
    g_action_map_add_action(G_ACTION_MAP(mApp), G_ACTION(a));
    g_object_unref(a);
  }
}

void NSApplication::terminate(const void*) {
  mTerminating = true;
  NSRunLoop::mainRunLoop().stop();
}

void NSApplication::openFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    bool opened = mDelegate != nullptr && mDelegate->applicationOpenFile(this, path);
    if (!opened) {
      ++documentFailures;
      NSLog("The document %s could not be opened", path.c_str());
    }
  }
}

void NSApplication::activate() {
  if (mActivation) mActivation();
}

bool NSApplication::performAction(const std::string& name) {
  auto it = mActions.find(name);
  if (it == mActions.end()) return false;
  auto action = it->second;  // the action may change the table
  action();
  return true;
}

void NSApplication::reset() {
  mDelegate = nullptr;
  mActivation = nullptr;
  mActions.clear();
  mTerminating = false;
  documentFailures = 0;
}

int NSApplicationMain(int argc, char** argv, const NSInterfaceDescription& interface) {
  NSApplication* app = NSApplication::sharedApplication();
  NSAppleEventManager::sharedAppleEventManager();  // the first-event notification is wired from here on
  bool service = false, activateAtLaunch = false;
  std::vector<std::string> documents;
  std::vector<GFile*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--gapplication-service") == 0) {
      service = true;
    } else if (std::strcmp(argv[i], "--activate") == 0) {
      activateAtLaunch = true;
    } else {
      GFile* f = g_file_new_for_commandline_arg(argv[i]);
      gchar* p = g_file_get_path(f);
      documents.emplace_back(p ? p : argv[i]);
      g_free(p);
      files.push_back(f);
    }
  }
  auto freeFiles = [&] {
    for (GFile* f : files) g_object_unref(f);
  };

  if (!g_application_id_is_valid(interface.applicationID.c_str())) {
    freeFiles();
    return 1;
  }
  GApplication* gapp = G_APPLICATION(g_object_new(s2m_application_get_type(), "application-id",
                                                  interface.applicationID.c_str(), "flags",
                                                  G_APPLICATION_HANDLES_OPEN, nullptr));
  GError* error = nullptr;
  if (!g_application_register(gapp, nullptr, &error)) {
    NSLog("Cannot start: %s", error ? error->message : "registration failed");
    g_clear_error(&error);
    g_object_unref(gapp);
    freeFiles();
    return 1;
  }
  if (g_application_get_is_remote(gapp)) {
    // Another instance serves this session: hand it the request.
    if (!files.empty())
      g_application_open(gapp, files.data(), gint(files.size()), "");
    else if (activateAtLaunch && !service)
      g_application_activate(gapp);
    // The bus drops a request still waiting for a starting instance once its sender has gone: a
    // ping behind it, answered, means that it has arrived.
    if (GDBusConnection* c = g_application_get_dbus_connection(gapp)) {
      GVariant* pong = g_dbus_connection_call_sync(c, interface.applicationID.c_str(), "/", "org.freedesktop.DBus.Peer",
                                                   "Ping", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      if (pong != nullptr) g_variant_unref(pong);
    }
    g_object_unref(gapp);
    freeFiles();
    return 0;
  }
  freeFiles();

  app->mApp = gapp;
  g_signal_connect(gapp, "open", G_CALLBACK(onOpen), nullptr);
  g_signal_connect(gapp, "activate", G_CALLBACK(onActivate), nullptr);
  std::shared_ptr<void> topLevel = interface.instantiate ? interface.instantiate(*app) : nullptr;
  for (const auto& [name, action] : std::map<std::string, std::function<void()>>(app->mActions))
    app->addAction(name, action);  // export the actions wired before the bus object existed

  // Launch-time requests are served from the run loop, as later ones are.
  struct Launch {
    std::vector<std::string> documents;
    bool activate;
  };
  auto* launch = new Launch{documents, activateAtLaunch};
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* l = static_cast<Launch*>(data);
        if (!l->documents.empty()) NSApplication::sharedApplication()->openFiles(l->documents);
        if (l->activate) NSApplication::sharedApplication()->activate();
        return G_SOURCE_REMOVE;
      },
      launch, [](gpointer data) { delete static_cast<Launch*>(data); });

  // Interrupted or asked to stop, the application ends as after terminate(), so that pending
  // replies still leave.
  auto onSignal = [](gpointer) -> gboolean {
    NSApplication::sharedApplication()->terminate(nullptr);
    return G_SOURCE_CONTINUE;
  };
  const guint sigint = g_unix_signal_add(SIGINT, onSignal, nullptr);
  const guint sigterm = g_unix_signal_add(SIGTERM, onSignal, nullptr);
  if (!app->mTerminating) NSRunLoop::mainRunLoop().run();
  g_source_remove(sigint);
  g_source_remove(sigterm);

  // Requests may already be on their way to a process that is ending. Give up the name first:
  // the bus then routes nothing more here and starts a fresh instance for what is sent from now
  // on. Whatever it routed here before sits ahead of the release's answer on the connection, so
  // by the time that answer is back it is all queued on the run loop: serve it, and only then
  // stop serving Apple events. A request that reached this instance is never dropped.
  GDBusConnection* connection = g_application_get_dbus_connection(gapp);
  if (connection != nullptr) {
    g_object_ref(connection);
    GVariant* released = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
        g_variant_new("(s)", interface.applicationID.c_str()), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr);
    if (released != nullptr) g_variant_unref(released);
  }
  while (g_main_context_iteration(g_main_context_default(), FALSE)) {
  }
  AEUnpublish();
  if (app->mDelegate != nullptr) app->mDelegate->applicationWillTerminate();
  app->mDelegate = nullptr;
  app->mActivation = nullptr;
  app->mActions.clear();
  topLevel.reset();
  app->mApp = nullptr;
  // The GApplication is not released: outside g_application_run it cannot unregister from the
  // bus, and the process ends right after this, which gives up its connection all the same.
  // Replies queued by the last handlers must leave before the process does.
  if (connection != nullptr) {
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
  }
  return documentFailures > 0 ? 1 : 0;
}
