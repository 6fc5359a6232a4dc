#include "linux/sni/wayland_scale.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "linux/posix_handles.h"

namespace {

// The few words of the wire protocol needed: each message is its object id,
// then its size (high 16 bits) and opcode, then 32-bit arguments; a string
// is its length with the NUL, then its bytes padded to 4.
constexpr std::uint32_t DISPLAY_ID = 1;
constexpr std::uint32_t REGISTRY_ID = 2;
constexpr std::uint16_t DISPLAY_SYNC = 0;
constexpr std::uint16_t DISPLAY_GET_REGISTRY = 1;
constexpr std::uint16_t DISPLAY_ERROR = 0;
constexpr std::uint16_t REGISTRY_BIND = 0;
constexpr std::uint16_t REGISTRY_GLOBAL = 0;
constexpr std::uint16_t CALLBACK_DONE = 0;
constexpr std::uint16_t OUTPUT_SCALE = 3;
constexpr std::uint32_t OUTPUT_SCALE_SINCE = 2;  // the version that has the scale event
constexpr auto ANSWER_WAIT = std::chrono::milliseconds(300);
constexpr std::size_t MAX_OUTPUTS = 64;  // a compositor that lists more is not believed further

class CMessage {
 public:
  CMessage(std::uint32_t object, std::uint16_t opcode) : words{object, opcode} {}
  CMessage& Uint(std::uint32_t value) {
    words.push_back(value);
    return *this;
  }
  CMessage& String(const std::string& text) {
    const std::size_t bytes = text.size() + 1;
    words.push_back(static_cast<std::uint32_t>(bytes));
    const std::size_t at = words.size();
    words.resize(at + (bytes + 3) / 4, 0);
    std::memcpy(&words[at], text.c_str(), bytes);
    return *this;
  }
  bool SendTo(int socket) {
    words[1] |= static_cast<std::uint32_t>(words.size() * 4) << 16;
    const std::size_t size = words.size() * 4;
    return send(socket, words.data(), size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
  }

 private:
  std::vector<std::uint32_t> words;
};

std::string SocketPath() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return {};
  if (*display == '/') return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return {};
  return std::string(runtime) + "/" + display;
}

// One conversation: the registry, every wl_output bound, a round trip for
// their scale events. Anything unexpected ends it with what was learnt.
class CScaleQuery {
 public:
  explicit CScaleQuery(int socket) : socket(socket) {}

  int Run() {
    const std::uint32_t firstSync = nextId++;
    if (!CMessage(DISPLAY_ID, DISPLAY_GET_REGISTRY).Uint(REGISTRY_ID).SendTo(socket) ||
        !CMessage(DISPLAY_ID, DISPLAY_SYNC).Uint(firstSync).SendTo(socket)) {
      return largest;
    }
    // After the first round trip every output is bound; after the second,
    // each has told its scale.
    if (!ReadUntilDone(firstSync)) return largest;
    const std::uint32_t secondSync = nextId++;
    if (!CMessage(DISPLAY_ID, DISPLAY_SYNC).Uint(secondSync).SendTo(socket)) return largest;
    ReadUntilDone(secondSync);
    return largest;
  }

 private:
  bool ReadUntilDone(std::uint32_t callback) {
    const auto deadline = std::chrono::steady_clock::now() + ANSWER_WAIT;
    while (true) {
      while (buffered.size() >= 8) {
        const std::uint32_t object = buffered[0];
        const std::uint32_t size = buffered[1] >> 16;
        const std::uint16_t opcode = buffered[1] & 0xffff;
        if (size < 8 || size % 4 != 0) return false;
        if (buffered.size() * 4 < size) break;
        const std::vector<std::uint32_t> arguments(buffered.begin() + 2, buffered.begin() + size / 4);
        buffered.erase(buffered.begin(), buffered.begin() + size / 4);
        if (object == DISPLAY_ID && opcode == DISPLAY_ERROR) return false;
        if (object == callback && opcode == CALLBACK_DONE) return true;
        if (!Handle(object, opcode, arguments)) return false;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd readable{socket, POLLIN, 0};
      if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) != 1) return false;
      std::uint32_t chunk[1024];
      const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
      // The compositor writes whole words; a stray partial one ends the talk.
      if (got <= 0 || got % 4 != 0) return false;
      buffered.insert(buffered.end(), chunk, chunk + got / 4);
    }
  }

  bool Handle(std::uint32_t object, std::uint16_t opcode, const std::vector<std::uint32_t>& arguments) {
    if (object == REGISTRY_ID && opcode == REGISTRY_GLOBAL) {
      // name, interface (a string), version
      if (arguments.size() < 3) return false;
      const std::uint32_t length = arguments[1];
      if (length == 0 || (length + 3) / 4 + 3 > arguments.size()) return false;
      const char* interface = reinterpret_cast<const char*>(&arguments[2]);
      const std::uint32_t version = arguments[2 + (length + 3) / 4];
      if (std::strncmp(interface, "wl_output", length) == 0 && version >= OUTPUT_SCALE_SINCE &&
          outputs.size() < MAX_OUTPUTS) {
        const std::uint32_t id = nextId++;
        outputs.push_back(id);
        return CMessage(REGISTRY_ID, REGISTRY_BIND)
            .Uint(arguments[0])
            .String("wl_output")
            .Uint(OUTPUT_SCALE_SINCE)
            .Uint(id)
            .SendTo(socket);
      }
      return true;
    }
    if (opcode == OUTPUT_SCALE && !arguments.empty() &&
        std::find(outputs.begin(), outputs.end(), object) != outputs.end()) {
      const auto scale = static_cast<std::int32_t>(arguments[0]);
      if (scale > largest && scale <= 16) largest = scale;  // a larger one is not believed
    }
    return true;
  }

  int socket;
  std::uint32_t nextId = REGISTRY_ID + 1;
  std::vector<std::uint32_t> outputs;
  std::vector<std::uint32_t> buffered;
  int largest = 1;
};

}  // namespace

int LargestOutputScale() {
  const std::string path = SocketPath();
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return 1;
  unique_fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return 1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 1;
  return CScaleQuery(socket.get()).Run();
}
