// SPDX-License-Identifier: GPL-2.0-or-later
// Apple events over the D-Bus session bus: AESend on the sending side, Deliver on the receiving one.
// Descriptors travel as (u type, ay bytes, a(uv) items); the variant in an item holds the same shape.
#include <gio/gio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "toolbox/AppleEvents/AEBusReceiver.h"
#include "toolbox/AppleEvents/AEInternal.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"

namespace {

constexpr int kMaxDepth = 32;  // far deeper than any event we build; bounds hostile nesting
constexpr AEEventClass kCoreEventClass = FOUR_CHAR_CODE("aevt");
constexpr AEEventID kAEAnswer = FOUR_CHAR_CODE("ansr");

const char* kIntrospection =
    "<node><interface name='com.vantor.AppleEvents'>"
    "<method name='Deliver'>"
    "<arg type='u' name='eventClass' direction='in'/>"
    "<arg type='u' name='eventID' direction='in'/>"
    "<arg type='a(uv)' name='parameters' direction='in'/>"
    "<arg type='a(uv)' name='replyParameters' direction='out'/>"
    "</method></interface></node>";

GVariant* encodeItems(const AEDesc* d);

GVariant* encodeDesc(const AEDesc* d) {
  const std::vector<UInt8> empty;
  const std::vector<UInt8>& bytes = d->dataHandle && !ae_internal::isContainer(d->descriptorType) ? d->dataHandle->bytes : empty;
  GVariant* ay = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
  return g_variant_new("(u@ay@a(uv))", guint32(d->descriptorType), ay, encodeItems(d));
}

GVariant* encodeItems(const AEDesc* d) {
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a(uv)"));
  if (d != nullptr && d->dataHandle != nullptr && ae_internal::isContainer(d->descriptorType))
    for (const auto& item : d->dataHandle->items)
      g_variant_builder_add(&b, "(uv)", guint32(item.first), encodeDesc(&item.second));
  return g_variant_builder_end(&b);
}

bool decodeItems(GVariant* items, AEDesc* container, int depth);

bool decodeDesc(GVariant* v, AEDesc* out, int depth) {
  AEInitializeDesc(out);
  if (depth > kMaxDepth || !g_variant_is_of_type(v, G_VARIANT_TYPE("(uaya(uv))"))) return false;
  guint32 type = 0;
  GVariant* ay = nullptr;
  GVariant* items = nullptr;
  g_variant_get(v, "(u@ay@a(uv))", &type, &ay, &items);
  bool ok = true;
  if (ae_internal::isContainer(type)) {
    if (type == typeAppleEvent)
      ok = AECreateAppleEvent(0, 0, nullptr, 0, 0, out) == noErr;
    else
      ok = AECreateList(nullptr, 0, type == typeAERecord, out) == noErr;
    ok = ok && decodeItems(items, out, depth);
  } else {
    gsize n = 0;
    const void* data = g_variant_get_fixed_array(ay, &n, 1);
    ok = AECreateDesc(type, data, Size(n), out) == noErr;
  }
  g_variant_unref(ay);
  g_variant_unref(items);
  if (!ok) AEDisposeDesc(out);
  return ok;
}

bool decodeItems(GVariant* items, AEDesc* container, int depth) {
  GVariantIter it;
  g_variant_iter_init(&it, items);
  guint32 key = 0;
  GVariant* inner = nullptr;
  while (g_variant_iter_next(&it, "(uv)", &key, &inner)) {
    AEDesc d;
    bool ok = decodeDesc(inner, &d, depth + 1);
    g_variant_unref(inner);
    if (!ok) return false;
    container->dataHandle->items.emplace_back(container->descriptorType == typeAEList ? 0 : key, d);
  }
  return true;
}

// ---- receiving ----

struct Publication {
  GDBusConnection* connection = nullptr;
  guint registration = 0;
  GDBusNodeInfo* node = nullptr;
};
Publication& publication() {
  static Publication p;
  return p;
}

void handleMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                      GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
  if (std::strcmp(method, kAEBusMethod) != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no such method");
    return;
  }
  guint32 cls = 0, id = 0;
  GVariant* items = nullptr;
  g_variant_get(parameters, "(uu@a(uv))", &cls, &id, &items);
  AppleEvent event;
  AECreateAppleEvent(cls, id, nullptr, 0, 0, &event);
  bool ok = decodeItems(items, &event, 0);
  g_variant_unref(items);
  if (!ok) {
    AEDisposeDesc(&event);
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                                               "malformed descriptor");
    return;
  }
  if (sender != nullptr) {
    AEDesc from;
    if (AECreateDesc(typeApplicationBundleID, sender, Size(std::strlen(sender)), &from) == noErr) {
      AEPutAttributeDesc(&event, keyOriginalAddressAttr, &from);
      AEDisposeDesc(&from);
    }
  }
  // A sender that expects no reply gets a reply of type 'null', so handlers can tell.
  GDBusMessage* message = g_dbus_method_invocation_get_message(invocation);
  const bool wantsReply = (g_dbus_message_get_flags(message) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) == 0;
  AppleEvent reply;
  AEInitializeDesc(&reply);
  if (wantsReply) AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 0, 0, &reply);
  AEDispatchAppleEvent(&event, &reply);
  g_dbus_method_invocation_return_value(invocation, g_variant_new("(@a(uv))", encodeItems(&reply)));
  AEDisposeDesc(&reply);
  AEDisposeDesc(&event);
}

const GDBusInterfaceVTable kVTable = {handleMethodCall, nullptr, nullptr, {nullptr}};

// ---- sending ----

OSErr errorFromGError(const GError* error) {
  if (error == nullptr) return noErr;
  if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_TIMED_OUT) return errAETimeout;
  if (error->domain != G_DBUS_ERROR) return connectionInvalid;
  switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_FORK_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
    case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
    case G_DBUS_ERROR_SPAWN_FAILED:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
    case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
    case G_DBUS_ERROR_SPAWN_FILE_INVALID:
      return procNotFound;
    case G_DBUS_ERROR_TIMEOUT:
    case G_DBUS_ERROR_TIMED_OUT:
    case G_DBUS_ERROR_NO_REPLY:
      return errAETimeout;
    case G_DBUS_ERROR_UNKNOWN_METHOD:
    case G_DBUS_ERROR_UNKNOWN_OBJECT:
    case G_DBUS_ERROR_UNKNOWN_INTERFACE:
      return errAEEventNotHandled;
    default:
      return connectionInvalid;
  }
}

bool refusedWhileQuitting(const GError* error) {
  return error != nullptr && error->domain == G_DBUS_ERROR &&
         (error->code == G_DBUS_ERROR_UNKNOWN_METHOD || error->code == G_DBUS_ERROR_UNKNOWN_OBJECT ||
          error->code == G_DBUS_ERROR_UNKNOWN_INTERFACE || error->code == G_DBUS_ERROR_NO_REPLY);
}

GVariant* busCall(GDBusConnection* c, const char* method, GVariant* args, const char* replyType) {
  return g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     method, args, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                     nullptr);
}

// Whether the connection serves Apple events: its introspection lists our interface.
bool servesAppleEvents(GDBusConnection* c, const char* name) {
  GVariant* r = g_dbus_connection_call_sync(c, name, kAEBusObjectPath, "org.freedesktop.DBus.Introspectable",
                                            "Introspect", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                            5000, nullptr, nullptr);
  if (r == nullptr) return false;
  const gchar* xml = nullptr;
  g_variant_get(r, "(&s)", &xml);
  bool yes = std::strstr(xml, kAEBusInterface) != nullptr;
  g_variant_unref(r);
  return yes;
}

OSErr uniqueNameForPid(GDBusConnection* c, guint32 pid, std::string* name) {
  GVariant* names = busCall(c, "ListNames", nullptr, "(as)");
  if (names == nullptr) return connectionInvalid;
  GVariantIter* it = nullptr;
  g_variant_get(names, "(as)", &it);
  const gchar* n = nullptr;
  OSErr err = procNotFound;
  while (err != noErr && g_variant_iter_next(it, "&s", &n)) {
    if (n[0] != ':') continue;
    GVariant* r = busCall(c, "GetConnectionUnixProcessID", g_variant_new("(s)", n), "(u)");
    if (r == nullptr) continue;
    guint32 owner = 0;
    g_variant_get(r, "(u)", &owner);
    g_variant_unref(r);
    if (owner == pid && servesAppleEvents(c, n)) {
      *name = n;
      err = noErr;
    }
  }
  g_variant_iter_free(it);
  g_variant_unref(names);
  return err;
}

OSErr destinationFor(GDBusConnection* c, const AEDesc* target, std::string* dest, bool* wellKnown) {
  *wellKnown = false;
  Size n = AEGetDescDataSize(target);
  switch (target->descriptorType) {
    case typeProcessSerialNumber:
    case typeKernelProcessID: {
      UInt32 pid = 0;
      if (target->descriptorType == typeProcessSerialNumber && n == Size(sizeof(ProcessSerialNumber))) {
        ProcessSerialNumber psn;
        AEGetDescData(target, &psn, sizeof psn);
        if (psn.highLongOfPSN != 0) return procNotFound;
        pid = psn.lowLongOfPSN;
      } else if (n == 4) {
        AEGetDescData(target, &pid, 4);
      } else {
        return paramErr;
      }
      if (pid == 0) return procNotFound;
      return uniqueNameForPid(c, pid, dest);
    }
    case typeApplSignature: {
      if (n != 4) return paramErr;
      OSType sig = 0;
      AEGetDescData(target, &sig, 4);
      *dest = AEBusNameForSignature(sig);
      *wellKnown = true;
      return noErr;
    }
    case typeApplicationBundleID: {
      std::string name(size_t(n), '\0');
      AEGetDescData(target, name.data(), n);
      if (!g_dbus_is_name(name.c_str())) return paramErr;
      *dest = name;
      *wellKnown = !g_dbus_is_unique_name(name.c_str());
      return noErr;
    }
    default:
      return paramErr;
  }
}

gint timeoutMillis(SInt32 ticks) {
  if (ticks == kNoTimeOut) return G_MAXINT;
  if (ticks <= 0) return 120000;
  return gint(std::min<SInt64>(SInt64(ticks) * 1000 / 60, G_MAXINT));
}

}  // namespace

std::string AEBusNameForSignature(OSType signature) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "com.vantor.AppleEvents.sig_%08X", unsigned(signature));
  return buf;
}

OSErr AEPublishOnConnection(GDBusConnection* connection) {
  if (connection == nullptr) return paramErr;
  Publication& p = publication();
  if (p.connection == connection && p.registration != 0) return noErr;
  AEUnpublish();
  if (p.node == nullptr) p.node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  GError* error = nullptr;
  p.registration = g_dbus_connection_register_object(connection, kAEBusObjectPath, p.node->interfaces[0], &kVTable,
                                                     nullptr, nullptr, &error);
  if (p.registration == 0) {
    OSErr err = errorFromGError(error);
    g_clear_error(&error);
    return err == noErr ? connectionInvalid : err;
  }
  p.connection = G_DBUS_CONNECTION(g_object_ref(connection));
  return noErr;
}

void AEUnpublish() {
  Publication& p = publication();
  if (p.connection != nullptr) {
    if (p.registration != 0) g_dbus_connection_unregister_object(p.connection, p.registration);
    g_object_unref(p.connection);
  }
  p.connection = nullptr;
  p.registration = 0;
}

OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode, AESendPriority,
             SInt32 timeOutInTicks, AEIdleUPP, AEFilterUPP) {
  if (reply != nullptr) AEInitializeDesc(reply);
  if (theAppleEvent == nullptr || theAppleEvent->descriptorType != typeAppleEvent ||
      theAppleEvent->dataHandle == nullptr)
    return paramErr;
  const bool wantReply = (sendMode & kAEWaitReply) != kAENoReply;
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    g_clear_error(&error);
    return connectionInvalid;
  }
  const AEDataStorage s = theAppleEvent->dataHandle;
  std::string dest;
  bool wellKnown = false;
  OSErr err = destinationFor(bus, &s->target, &dest, &wellKnown);
  GVariant* args = nullptr;
  if (err == noErr) args = g_variant_new("(uu@a(uv))", guint32(s->eventClass), guint32(s->eventID), encodeItems(theAppleEvent));
  if (err == noErr && wantReply) {
    g_variant_ref_sink(args);
    GVariant* r = nullptr;
    for (int attempt = 0; attempt < 2 && r == nullptr; ++attempt) {
      g_clear_error(&error);
      r = g_dbus_connection_call_sync(bus, dest.c_str(), kAEBusObjectPath, kAEBusInterface, kAEBusMethod, args,
                                      G_VARIANT_TYPE("(a(uv))"), G_DBUS_CALL_FLAGS_NONE, timeoutMillis(timeOutInTicks),
                                      nullptr, &error);
      // An application that was just quitting refuses or drops the call; by now it has given up
      // its name, so one more try reaches a fresh instance.
      if (r == nullptr && !(wellKnown && refusedWhileQuitting(error))) break;
    }
    g_variant_unref(args);
    if (r == nullptr) {
      err = errorFromGError(error);
      g_clear_error(&error);
    } else {
      AppleEvent answer;
      AECreateAppleEvent(kCoreEventClass, kAEAnswer, nullptr, 0, 0, &answer);
      GVariant* items = g_variant_get_child_value(r, 0);
      if (!decodeItems(items, &answer, 0)) err = errAECoercionFail;
      g_variant_unref(items);
      g_variant_unref(r);
      if (err == noErr && reply != nullptr)
        *reply = answer;
      else
        AEDisposeDesc(&answer);
    }
  } else if (err == noErr) {
    // Without a reply the bus reports nothing, and it drops a message still waiting for the
    // application to start when its sender has gone by then. A ping to the same destination
    // travels behind the event: its answer (given by the receiver's connection, not after its
    // queue of conversions) means that the event is in the receiver's hands.
    g_variant_ref_sink(args);
    for (int attempt = 0; attempt < 2; ++attempt) {
      g_clear_error(&error);
      GDBusMessage* m = g_dbus_message_new_method_call(dest.c_str(), kAEBusObjectPath, kAEBusInterface, kAEBusMethod);
      g_dbus_message_set_body(m, args);
      g_dbus_message_set_flags(m, G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
      const bool sent = g_dbus_connection_send_message(bus, m, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, &error);
      g_object_unref(m);
      GVariant* pong = nullptr;
      if (sent)
        pong = g_dbus_connection_call_sync(bus, dest.c_str(), kAEBusObjectPath, "org.freedesktop.DBus.Peer", "Ping",
                                           nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMillis(timeOutInTicks),
                                           nullptr, &error);
      if (pong != nullptr) {
        g_variant_unref(pong);
        g_clear_error(&error);
        break;
      }
      // A receiver that vanished before answering may not have had the event: send it once more,
      // to the name's next owner.
      const bool vanished = error != nullptr && error->domain == G_DBUS_ERROR && error->code == G_DBUS_ERROR_NO_REPLY;
      if (!(sent && wellKnown && vanished)) break;
    }
    g_variant_unref(args);
    if (error != nullptr) {
      err = errorFromGError(error);
      g_clear_error(&error);
    }
  }
  g_object_unref(bus);
  return err;
}
