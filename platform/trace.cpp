#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace scopa {

namespace {

std::mutex g_mutex;
TraceSink g_sink;

bool TraceToStandardError() {
    static const bool enabled = std::getenv("SCOPA_TRACE") != nullptr;
    return enabled;
}

}  // namespace

void Trace(const std::string& text) {
    std::lock_guard lock(g_mutex);
    if (g_sink) g_sink(text);
    if (TraceToStandardError()) std::fputs(text.c_str(), stderr);
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard lock(g_mutex);
    TraceSink previous = std::move(g_sink);
    g_sink = std::move(sink);
    return previous;
}

}  // namespace scopa
