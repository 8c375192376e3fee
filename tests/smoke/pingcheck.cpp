// Whether a window's program answers: sends it the window manager's ping
// (_NET_WM_PING) and waits for the reply its event loop sends to the root
// window. A program whose main thread hangs never replies; one that runs a
// modal dialog does, as a window manager would see it.
//   pictrova_ping <window id> <timeout ms>
// Exit status: 0 answered, 1 no answer within the time, 2 no such window or
// no display.
#include <xcb/xcb.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <window id> <timeout ms>\n", argv[0]);
    return 2;
  }
  const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
  const int timeoutMs = std::atoi(argv[2]);
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 2;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  // The reply goes to the root window with structure or substructure masks
  // (toolkits differ): a client that selects both there receives it.
  const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  const xcb_atom_t protocols = Atom(c, "WM_PROTOCOLS");
  const xcb_atom_t ping = Atom(c, "_NET_WM_PING");

  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  if (!geometry) return 2;
  std::free(geometry);

  // A timestamp of our own, so that only the reply to this ping counts.
  const auto stamp = static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() / 1000000 % 0x7fffffff + 1);
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = protocols;
  event.data.data32[0] = ping;
  event.data.data32[1] = stamp;
  event.data.data32[2] = window;
  xcb_void_cookie_t sent =
      xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  if (xcb_generic_error_t* error = xcb_request_check(c, sent)) {
    std::free(error);
    return 2;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
  for (;;) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      bool answered = false;
      if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(e);
        answered = m->type == protocols && m->data.data32[0] == ping && m->data.data32[1] == stamp;
      }
      std::free(e);
      if (answered) {
        xcb_disconnect(c);
        return 0;
      }
    }
    if (xcb_connection_has_error(c)) return 2;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    poll(&fd, 1, static_cast<int>(left));
  }
  xcb_disconnect(c);
  return 1;
}
