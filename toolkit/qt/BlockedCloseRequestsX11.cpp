#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "toolkit/qt/BlockedCloseRequests.h"

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

}  // namespace

struct TBlockedCloseRequests::TFilter : QAbstractNativeEventFilter {
  QPointer<QWidget> Window;
  std::function<void()> OnRequest;
  xcb_atom_t Protocols = XCB_ATOM_NONE;
  xcb_atom_t DeleteWindow = XCB_ATOM_NONE;

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t" || !Window) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != Protocols ||
        client->data.data32[0] != DeleteWindow || client->window != Window->winId()) {
      return false;
    }
    // Unblocked, Qt delivers the request itself.
    if (QApplication::activeModalWidget() != nullptr && OnRequest) OnRequest();
    return false;
  }
};

TBlockedCloseRequests::TBlockedCloseRequests(QWidget& window, std::function<void()> onRequest) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return;
  FFilter = std::make_unique<TFilter>();
  FFilter->Window = &window;
  FFilter->OnRequest = std::move(onRequest);
  FFilter->Protocols = Atom(x11->connection(), "WM_PROTOCOLS");
  FFilter->DeleteWindow = Atom(x11->connection(), "WM_DELETE_WINDOW");
  QCoreApplication::instance()->installNativeEventFilter(FFilter.get());
}

TBlockedCloseRequests::~TBlockedCloseRequests() {
  if (FFilter && QCoreApplication::instance()) {
    QCoreApplication::instance()->removeNativeEventFilter(FFilter.get());
  }
}
