// Why a picture could not be read or written. Filters keep the status codes of their interface
// (done, failed, cannot create, interrupted) and put the reason beside them: a fault in the
// data (a cut, corrupt or unsupported file) or in the resources the reading needed (memory, a
// size limit, a library that cannot be loaded, a read error), with a short text that names it,
// a codec library's own message where one was given.
#pragma once

#include <string>

namespace scopa {

enum class FailureKind {
    kNone,
    kData,      // the file is cut, corrupt or uses what we do not read
    kResource,  // memory, a limit, a missing library or an I/O error stopped the work
};

struct FilterFailure {
    FailureKind kind = FailureKind::kNone;
    std::string text;

    bool IsSet() const { return kind != FailureKind::kNone; }
};

// "data fault" or "resource fault" (empty for none), for trace lines.
constexpr const char* FailureKindName(FailureKind kind) {
    return kind == FailureKind::kData       ? "data fault"
           : kind == FailureKind::kResource ? "resource fault"
                                            : "";
}

}  // namespace scopa
