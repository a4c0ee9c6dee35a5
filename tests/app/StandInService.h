// SPDX-License-Identifier: GPL-2.0-or-later
// A desktop service played by a test on the private bus (a portal, a notification server): one
// object under a well-known name, on its own connection and thread, until the object goes.
#pragma once
#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace apptest {

class StandInService {
 public:
  StandInService(const StandInService&) = delete;
  StandInService& operator=(const StandInService&) = delete;
  virtual ~StandInService() = default;

 protected:
  // interfaceXml: the introspection of the one interface the object serves.
  StandInService(std::string address, std::string busName, std::string objectPath, std::string interfaceXml)
      : mAddress(std::move(address)),
        mBusName(std::move(busName)),
        mObjectPath(std::move(objectPath)),
        mInterfaceXml(std::move(interfaceXml)) {}

  // Called by the derived constructor, once what onMethod reads is set up.
  void start() {
    mThread = std::thread([this] { serve(); });
    std::unique_lock<std::mutex> lock(mMutex);
    mReadyCv.wait(lock, [this] { return mReady; });
  }
  // Called by the derived destructor, before what onMethod reads goes.
  void stop() {
    if (!mThread.joinable()) return;
    g_main_context_invoke(mContext, [](gpointer loop) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(loop));
      return G_SOURCE_REMOVE;
    }, mLoop);
    mThread.join();
  }

  // On the service's thread.
  virtual void onMethod(const std::string& sender, const std::string& method, GVariant* params,
                        GDBusMethodInvocation* inv) = 0;
  // On the service's thread, after its loop ends and before the object goes.
  virtual void onStopping() {}

  GDBusConnection* connection() const { return mConnection; }
  GMainContext* context() const { return mContext; }
  const std::string& objectPath() const { return mObjectPath; }
  std::mutex mMutex;  // for what the test reads from its thread

 private:
  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* inv, gpointer data) {
    static_cast<StandInService*>(data)->onMethod(sender, method, params, inv);
  }

  void serve() {
    mContext = g_main_context_new();
    g_main_context_push_thread_default(mContext);
    mLoop = g_main_loop_new(mContext, FALSE);
    mConnection = g_dbus_connection_new_for_address_sync(
        mAddress.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(("<node>" + mInterfaceXml + "</node>").c_str(), nullptr);
    static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {nullptr}};
    const guint id = g_dbus_connection_register_object(mConnection, mObjectPath.c_str(), node->interfaces[0], &vtable,
                                                       this, nullptr, nullptr);
    GVariant* r = g_dbus_connection_call_sync(mConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "RequestName",
                                              g_variant_new("(su)", mBusName.c_str(), 4u),  // do not queue
                                              G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (r) g_variant_unref(r);
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mReady = true;
    }
    mReadyCv.notify_all();
    g_main_loop_run(mLoop);
    onStopping();
    g_dbus_connection_unregister_object(mConnection, id);
    g_dbus_connection_close_sync(mConnection, nullptr, nullptr);
    g_object_unref(mConnection);
    g_dbus_node_info_unref(node);
    g_main_loop_unref(mLoop);
    g_main_context_pop_thread_default(mContext);
    g_main_context_unref(mContext);
  }

  std::string mAddress, mBusName, mObjectPath, mInterfaceXml;
  std::thread mThread;
  GMainContext* mContext = nullptr;
  GMainLoop* mLoop = nullptr;
  GDBusConnection* mConnection = nullptr;
  std::condition_variable mReadyCv;
  bool mReady = false;
};

}  // namespace apptest
