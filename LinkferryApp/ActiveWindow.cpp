#include "ActiveWindow.h"

#include <X11/X.h>
#include <X11/Xauth.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <tuple>

#include "foundation/SigpipeGuard.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

using Clock = std::chrono::steady_clock;

// Longest title read, in 32-bit units of the X protocol.
constexpr std::uint32_t kTitleUnits = 1024;
// Entries read from an authority file at most, so a huge file cannot stall a click.
constexpr int kMaxAuthorityEntries = 256;

// A display named by DISPLAY: "[unix/|tcp/][host]:number[.screen]".
struct DisplayName {
  bool local = true;
  int family = AF_UNIX;                     // of the TCP address when not local
  std::array<unsigned char, 16> address{};  // network byte order, 4 or 16 bytes used
  int number = 0;
  int screen = 0;
};

std::optional<int> smallNumber(std::string_view digits, int maximum) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > maximum) return std::nullopt;
  return value;
}

std::optional<DisplayName> parseDisplay(std::string_view text) {
  DisplayName display;
  bool tcp = false;
  if (Text::startsWith(text, "unix/")) {
    text.remove_prefix(5);
  } else if (Text::startsWith(text, "tcp/")) {
    text.remove_prefix(4);
    tcp = true;
  }
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string host(text.substr(0, colon));
  const std::string_view numbers = text.substr(colon + 1);
  const auto dot = numbers.find('.');
  const auto number = smallNumber(numbers.substr(0, dot), 65535 - 6000);
  if (!number) return std::nullopt;
  display.number = *number;
  if (dot != std::string_view::npos) {
    const auto screen = smallNumber(numbers.substr(dot + 1), 255);
    if (!screen) return std::nullopt;
    display.screen = *screen;
  }
  if ((host.empty() || host == "unix") && !tcp) return display;
  if (host.empty() || host == "localhost") host = "127.0.0.1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  display.local = false;
  if (::inet_pton(AF_INET, host.c_str(), display.address.data()) == 1) {
    display.family = AF_INET;
  } else if (::inet_pton(AF_INET6, host.c_str(), display.address.data()) == 1) {
    display.family = AF_INET6;
  } else {
    return std::nullopt;  // a host name: resolving it could block the click
  }
  return display;
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

// A socket connected to `address` before the deadline, or -1.
int connectBefore(int family, const sockaddr* address, socklen_t length,
                  Clock::time_point deadline) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, address, length) == 0) return fd;
  if (errno == EINPROGRESS) {
    pollfd watched{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    if (::poll(&watched, 1, millisecondsUntil(deadline)) == 1 &&
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
      return fd;
    }
  }
  ::close(fd);
  return -1;
}

int connectDisplay(const DisplayName& display, Clock::time_point deadline) {
  if (display.local) {
    // The abstract socket first, as Xlib and xcb do, then the socket file.
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display.number);
    for (bool abstract : {true, false}) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const std::size_t offset = abstract ? 1 : 0;
      std::memcpy(address.sun_path + offset, path.data(), path.size());
      const auto length =
          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
      const int fd =
          connectBefore(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length, deadline);
      if (fd >= 0) return fd;
    }
    return -1;
  }
  const auto port = htons(static_cast<std::uint16_t>(6000 + display.number));
  const auto connectTo = [deadline](const auto& address) {
    return connectBefore(reinterpret_cast<const sockaddr*>(&address)->sa_family,
                         reinterpret_cast<const sockaddr*>(&address), sizeof address, deadline);
  };
  if (display.family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = port;
    std::memcpy(&address.sin_addr, display.address.data(), 4);
    return connectTo(address);
  }
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = port;
  std::memcpy(&address.sin6_addr, display.address.data(), 16);
  return connectTo(address);
}

struct Cookie {
  std::string name;
  std::string data;
};

bool isLoopback(const DisplayName& display) {
  return display.local || (display.family == AF_INET && display.address[0] == 127);
}

// The MIT-MAGIC-COOKIE-1 for the display from the authority file (the format of libXau), as xcb
// picks it: local and loopback displays by this machine's name, remote ones by address; an
// entry without a display number fits every number. Nothing when none fits: the server may
// still let us in without one.
std::optional<Cookie> cookieFor(const DisplayName& display, const std::filesystem::path& file) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(std::fopen(file.c_str(), "rbe"), &std::fclose);
  if (!stream) return std::nullopt;
  std::array<char, 256> hostName{};
  if (::gethostname(hostName.data(), hostName.size() - 1) != 0) hostName[0] = '\0';
  const std::string host = hostName.data();
  const std::string number = std::to_string(display.number);
  const std::string_view wantedAddress =
      isLoopback(display) ? std::string_view(host)
                          : std::string_view(reinterpret_cast<const char*>(display.address.data()),
                                             display.family == AF_INET ? 4 : 16);
  const unsigned short wantedFamily =
      isLoopback(display) ? FamilyLocal
                          : (display.family == AF_INET ? FamilyInternet : FamilyInternet6);
  for (int count = 0; count < kMaxAuthorityEntries; ++count) {
    std::unique_ptr<Xauth, void (*)(Xauth*)> entry(XauReadAuth(stream.get()), &XauDisposeAuth);
    if (!entry) break;
    const std::string_view address(entry->address, entry->address_length);
    const std::string_view entryNumber(entry->number, entry->number_length);
    const std::string_view name(entry->name, entry->name_length);
    const bool machine =
        entry->family == FamilyWild || (entry->family == wantedFamily && address == wantedAddress);
    if (machine && (entryNumber.empty() || entryNumber == number) && name == "MIT-MAGIC-COOKIE-1") {
      return Cookie{std::string(name), std::string(entry->data, entry->data_length)};
    }
  }
  return std::nullopt;
}

// Shuts the reading side of a socket down when the deadline passes before `finish`, which wakes
// whatever waits on it (xcb waits for the server without a time limit). Reading, not writing, so
// a late write cannot raise SIGPIPE. `finish` stops it and waits for its thread.
class Watchdog {
 public:
  Watchdog(int fd, Clock::time_point deadline)
      : m_thread([this, fd, deadline] {
          std::unique_lock lock(m_mutex);
          if (!m_finished.wait_until(lock, deadline, [this] { return m_done; })) {
            ::shutdown(fd, SHUT_RD);
          }
        }) {}
  ~Watchdog() { finish(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void finish() {
    {
      std::lock_guard lock(m_mutex);
      m_done = true;
    }
    m_finished.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_finished;
  bool m_done = false;
  std::thread m_thread;  // last: it uses the members above
};

template <typename Reply>
using ReplyOf = std::unique_ptr<Reply, void (*)(void*)>;
using PropertyReply = ReplyOf<xcb_get_property_reply_t>;

template <typename Reply>
ReplyOf<Reply> replyTo(X11Connection& connection, unsigned int sequence,
                       Clock::time_point deadline) {
  return ReplyOf<Reply>(static_cast<Reply*>(connection.reply(sequence, deadline)), &std::free);
}

std::string_view bytesOf(const PropertyReply& reply) {
  if (!reply || reply->format != 8) return {};
  std::string_view bytes(static_cast<const char*>(xcb_get_property_value(reply.get())),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
  return bytes;
}

std::string latin1ToUTF8(std::string_view bytes) {
  std::u32string points;
  for (unsigned char byte : bytes) points.push_back(byte);
  return Text::fromCodePoints(points);
}

// The title: _NET_WM_NAME as UTF-8, else WM_NAME as its type says (STRING is Latin-1; a compound
// text is taken only when plain ASCII).
std::optional<std::string> titleOf(const PropertyReply& netName, const PropertyReply& name,
                                   xcb_atom_t utf8) {
  if (netName && netName->type == utf8) {
    if (auto bytes = bytesOf(netName); !bytes.empty()) return Text::repairedUTF8(bytes);
  }
  const std::string_view bytes = bytesOf(name);
  if (bytes.empty()) return std::nullopt;
  if (name->type == XCB_ATOM_STRING) return latin1ToUTF8(bytes);
  if (name->type == utf8) return Text::repairedUTF8(bytes);
  for (unsigned char byte : bytes) {
    if (byte >= 0x80) return std::nullopt;
  }
  return std::string(bytes);
}

// Every reply asked for is taken before this returns, so that none piles up in a kept connection.
std::optional<ActiveWindow> readActiveWindow(X11Connection& x11, int screenNumber,
                                             Clock::time_point deadline) {
  xcb_connection_t* connection = x11.get();
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem <= 0) return std::nullopt;
  const xcb_window_t root = screens.data->root;

  // Atoms that do not exist yet were never set by anyone: no window manager announces anything.
  // Once all exist they are kept with the connection.
  constexpr std::array<std::string_view, 4> kNames = {"_NET_ACTIVE_WINDOW", "_NET_WM_NAME",
                                                      "UTF8_STRING", "_NET_WM_PID"};
  static_assert(kNames.size() == std::tuple_size_v<decltype(x11.atoms)>);
  if (std::find(x11.atoms.begin(), x11.atoms.end(), XCB_ATOM_NONE) != x11.atoms.end()) {
    std::array<xcb_intern_atom_cookie_t, kNames.size()> atomCookies{};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      atomCookies[i] = xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(kNames[i].size()),
                                       kNames[i].data());
    }
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      const auto reply = replyTo<xcb_intern_atom_reply_t>(x11, atomCookies[i].sequence, deadline);
      x11.atoms[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }
  }
  const auto [activeAtom, netNameAtom, utf8Atom, pidAtom] = x11.atoms;
  if (activeAtom == XCB_ATOM_NONE) return std::nullopt;

  const auto active = replyTo<xcb_get_property_reply_t>(
      x11, xcb_get_property(connection, 0, root, activeAtom, XCB_ATOM_WINDOW, 0, 1).sequence,
      deadline);
  if (!active || active->format != 32 || xcb_get_property_value_length(active.get()) < 4) {
    return std::nullopt;
  }
  const xcb_window_t window =
      *static_cast<const xcb_window_t*>(xcb_get_property_value(active.get()));
  if (window == XCB_WINDOW_NONE) return std::nullopt;

  const auto netNameCookie =
      xcb_get_property(connection, 0, window, netNameAtom, utf8Atom, 0, kTitleUnits);
  const auto nameCookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME,
                                           XCB_GET_PROPERTY_TYPE_ANY, 0, kTitleUnits);
  const auto pidCookie = xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1);
  const auto classCookie =
      xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
  const auto netName = replyTo<xcb_get_property_reply_t>(x11, netNameCookie.sequence, deadline);
  const auto name = replyTo<xcb_get_property_reply_t>(x11, nameCookie.sequence, deadline);
  const auto pid = replyTo<xcb_get_property_reply_t>(x11, pidCookie.sequence, deadline);
  const auto windowClass = replyTo<xcb_get_property_reply_t>(x11, classCookie.sequence, deadline);
  // No reply at all: the window is gone (or the connection is), so nothing is known.
  if (!name) return std::nullopt;

  ActiveWindow result;
  result.title = titleOf(netName, name, utf8Atom);
  if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4) {
    const std::uint32_t value =
        *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get()));
    if (value > 0 && value <= INT_MAX) result.pid = static_cast<int>(value);
  }
  for (std::string_view part : Text::split(bytesOf(windowClass), '\0')) {
    if (!part.empty() && result.windowClass.size() < 2) {
      result.windowClass.push_back(Text::repairedUTF8(part));
    }
  }
  return result;
}

// A new connection to `display` with `cookie` (or none), made before the deadline; nothing when the
// display refuses us or does not answer in time.
std::unique_ptr<X11Connection> openConnection(const DisplayName& display,
                                              const std::optional<Cookie>& cookie,
                                              Clock::time_point deadline) {
  const int fd = connectDisplay(display, deadline);
  if (fd < 0) return nullptr;
  Cookie copy = cookie.value_or(Cookie{});
  xcb_auth_info_t auth{};
  if (cookie) {
    auth.namelen = static_cast<int>(copy.name.size());
    auth.name = copy.name.data();
    auth.datalen = static_cast<int>(copy.data.size());
    auth.data = copy.data.data();
  }
  // xcb owns a duplicate and closes it whenever it fails; the watchdog acts on `fd`, which stays
  // open (so its number cannot be reused) until the watchdog has finished. Once connected, every
  // wait of a read has its own deadline (X11Connection::reply), so no watchdog stays.
  std::unique_ptr<X11Connection> result;
  const int xcbFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (xcbFd >= 0) {
    Watchdog watchdog(fd, deadline);
    auto connection =
        std::make_unique<X11Connection>(xcb_connect_to_fd(xcbFd, cookie ? &auth : nullptr));
    watchdog.finish();
    if (!xcb_connection_has_error(connection->get())) result = std::move(connection);
  }
  ::close(fd);
  return result;
}

// What a kept connection is for: the display (not its screen: one connection reads them all) and
// the credentials it was let in with.
std::string connectionKey(const DisplayName& display, const std::optional<Cookie>& cookie) {
  std::string key = display.local ? "unix" : std::to_string(display.family) + "/";
  if (!display.local) {
    key.append(reinterpret_cast<const char*>(display.address.data()), display.address.size());
  }
  key += ":" + std::to_string(display.number) + "\n";
  if (cookie) key += cookie->name + "\n" + cookie->data;
  return key;
}

std::string variable(const std::map<std::string, std::string>& environment, const char* name) {
  const auto found = environment.find(name);
  return found == environment.end() ? std::string() : found->second;
}

}  // namespace

X11Connection::~X11Connection() {
  xcb_disconnect(m_connection);
}

bool X11Connection::usable() {
  if (m_late || xcb_connection_has_error(m_connection)) return false;
  // Anything to read between uses is an event nobody asked for, or the end of the connection:
  // reading it tells which.
  pollfd entry{xcb_get_file_descriptor(m_connection), POLLIN, 0};
  if (::poll(&entry, 1, 0) > 0) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) std::free(event);
  }
  return !xcb_connection_has_error(m_connection);
}

void* X11Connection::reply(unsigned int sequence, Clock::time_point deadline) {
  if (m_late || xcb_flush(m_connection) <= 0) return nullptr;
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(m_connection, sequence, &reply, &error) != 0) {
      std::free(error);
      return reply;
    }
    pollfd entry{xcb_get_file_descriptor(m_connection), POLLIN, 0};
    const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (ready == 0 && Clock::now() >= deadline)) {
      m_late = true;
      return nullptr;
    }
  }
}

X11ActiveWindowSource::X11ActiveWindowSource(std::map<std::string, std::string> environment,
                                             std::filesystem::path home,
                                             std::chrono::steady_clock::duration limit,
                                             std::shared_ptr<X11Connections> connections)
    : m_environment(std::move(environment)),
      m_home(std::move(home)),
      m_limit(limit),
      m_connections(X11Connections::orNone(std::move(connections))) {}

std::optional<ActiveWindow> X11ActiveWindowSource::activeWindow() const {
  if (variable(m_environment, "XDG_SESSION_TYPE") == "wayland" ||
      !variable(m_environment, "WAYLAND_DISPLAY").empty()) {
    return std::nullopt;
  }
  const auto display = parseDisplay(variable(m_environment, "DISPLAY"));
  if (!display) return std::nullopt;
  const Clock::time_point deadline = Clock::now() + m_limit;

  std::string authority = variable(m_environment, "XAUTHORITY");
  if (authority.empty()) {
    const std::string home = variable(m_environment, "HOME");
    authority = ((home.empty() ? m_home : std::filesystem::path(home)) / ".Xauthority").string();
  }
  const std::optional<Cookie> cookie = cookieFor(*display, authority);
  const std::string key = connectionKey(*display, cookie);
  // xcb writes without MSG_NOSIGNAL, and a kept connection's server may have gone since its
  // last use.
  const SigpipeGuard guard;
  return m_connections->withConnection(
      key, [&] { return openConnection(*display, cookie, deadline); },
      [&](X11Connection& connection) {
        return readActiveWindow(connection, display->screen, deadline);
      },
      deadline);
}

}  // namespace linkferry
