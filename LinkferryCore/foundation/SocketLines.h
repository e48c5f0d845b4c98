#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// One line out and one line back over a connected stream socket, for the clients of the helper
// and of the service. Both throw std::runtime_error naming `peer` ("the helper", "the service").
namespace linkferry::SocketLines {

// A stream socket connected to the Unix socket at `path`, close-on-exec and blocking, or -1 with
// errno set: ETIMEDOUT when the listener's queue stayed full for `timeout` (a server that
// accepts nothing), ENAMETOOLONG, or connect's own reason.
int connect(const std::filesystem::path& path, std::chrono::milliseconds timeout);

// Writes all of `line` (which ends with its newline); a failure throws "<failure>: <errno text>".
void send(int descriptor, std::string_view line, std::string_view failure);

// Reads until `buffer` holds a newline, within `timeout` and `limit` bytes, and returns the text
// before it; what follows stays in `buffer` for the next answer.
std::string receive(int descriptor, std::string& buffer, std::chrono::milliseconds timeout,
                    std::size_t limit, std::string_view peer);

}  // namespace linkferry::SocketLines
