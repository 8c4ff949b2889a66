// Diagnostic lines for developers (what a debugger output window would show): never shown to
// users. They go to standard error when the environment variable SCOPA_TRACE is set, and to
// an installed sink (tests capture them) otherwise.
#pragma once

#include <functional>
#include <string>

namespace scopa {

using TraceSink = std::function<void(const std::string& line)>;

// Sends one diagnostic text (written as given: include the line end if one is wanted).
void Trace(const std::string& text);

// Installs a sink that receives every trace text; an empty function removes it. Returns the
// previous sink.
TraceSink SetTraceSink(TraceSink sink);

}  // namespace scopa
