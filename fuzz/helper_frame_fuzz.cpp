// The helper's socket framing on any bytes, cut into pieces at places the input chooses: the
// frame completes exactly when a newline arrives within the limit, and its request is the bytes
// before that newline, however the bytes were split.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "LinuxFront.h"
#include "launching/HelperSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using linkferry::LinuxHelper::RequestFrame;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  // The first byte chooses the piece size, so the same stream arrives in many shapes.
  const std::size_t piece = static_cast<unsigned char>(bytes[0]) % 17 + 1;
  const std::string_view stream = bytes.substr(1);
  RequestFrame frame;
  for (std::size_t at = 0; at < stream.size(); at += piece) frame.feed(stream.substr(at, piece));
  frame.finish();

  const auto newline = stream.find('\n');
  const bool fits = newline != std::string_view::npos &&
                    newline + 1 <= linkferry::HelperSocket::kMaxRequest;
  const auto request = frame.request();
  if (fits != (frame.state() == RequestFrame::State::complete)) __builtin_trap();
  if (fits != request.has_value()) __builtin_trap();
  if (request && *request != stream.substr(0, newline)) __builtin_trap();
  return 0;
}
