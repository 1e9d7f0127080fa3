// Debugger output to a settable sink.
#include "platform/win/debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/win/text.h"

namespace vkr::platform {
namespace {

struct Output {
  std::mutex mutex;
  DebugOutputSink sink;
};

Output& TheOutput() {
  static Output* o = new Output;  // never destroyed: threads may still write during exit
  return *o;
}

void DefaultSink(std::string_view text) {
  if (!std::getenv("VKR_DEBUG_OUTPUT")) return;
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void Write(std::string_view text) {
  Output& o = TheOutput();
  std::lock_guard lock(o.mutex);
  if (o.sink)
    o.sink(text);
  else
    DefaultSink(text);
}

}  // namespace

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
  Output& o = TheOutput();
  std::lock_guard lock(o.mutex);
  DebugOutputSink previous = std::move(o.sink);
  o.sink = std::move(sink);
  return previous;
}

}  // namespace vkr::platform

void OutputDebugStringA(LPCSTR text) { vkr::platform::Write(text ? std::string_view(text) : std::string_view()); }

void OutputDebugStringW(LPCWSTR text) { vkr::platform::Write(vkr::Utf16ToUtf8(vkr::View(text))); }
