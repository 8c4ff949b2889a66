// scopa thumbnail -s SIZE INPUT OUTPUT.png: a file manager's thumbnailer. Writes an RGBA PNG
// whose long side is SIZE from a document's stored preview, a pilot's bitmap, or a picture
// (metafiles are drawn at that size). Each run is bounded in processor time, wall-clock time
// and address space, so a hostile file ends in an error, never in a hang or a runaway.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cache/freedesktop_thumbnails.h"
#include "command.h"
#include "documents/document_previews.h"
#include "documents/pilot_programs.h"
#include "documents/preview_dib.h"
#include "imaging/picture.h"
#include "imaging/sized_thumbnail.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "thumbnail";
constexpr int32_t kDefaultSizePx = 256;
// Thumbnailing one file takes milliseconds; these leave a wide margin before calling it a hang.
constexpr unsigned kDefaultTimeLimitS = 10;
constexpr unsigned kDefaultMemoryLimitMb = 1024;
constexpr const char* kPilotTags[] = {"QLMK", "TSLN"};

// Async-signal-safe: a fixed message and _exit.
void OnLimitSignal(int) {
    static const char kMessage[] = "scopa thumbnail: time limit reached\n";
    ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
    (void)ignored;
    _exit(kExitFailure);
}

// Processor time through RLIMIT_CPU (SIGXCPU), wall-clock time (a blocked read) through
// alarm, memory through RLIMIT_AS. Sanitizer builds reserve huge shadow mappings, so the
// address-space limit is left to the others there.
void ApplyLimits(unsigned time_limit_s, unsigned memory_limit_mb) {
    struct sigaction action {};
    action.sa_handler = OnLimitSignal;
    sigaction(SIGXCPU, &action, nullptr);
    sigaction(SIGALRM, &action, nullptr);
    if (time_limit_s > 0) {
        rlimit cpu{time_limit_s, time_limit_s + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        alarm(time_limit_s * 2);
    }
#ifndef SCOPA_ADDRESS_SANITIZER
    if (memory_limit_mb > 0) {
        rlim_t bytes = rlim_t(memory_limit_mb) << 20;
        rlimit memory{bytes, bytes};
        setrlimit(RLIMIT_AS, &memory);
    }
#else
    (void)memory_limit_mb;
#endif
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
    const char* end = text.data() + text.size();
    auto [rest, error] = std::from_chars(text.data(), end, *value);
    return error == std::errc() && rest == end && *value >= low && *value <= high;
}

// A document's or pilot's stored preview; false when the file is neither or has none.
bool ReadStoredPreview(const std::string& path, DocumentPreview* preview, bool* is_document) {
    DocumentSource source = DocumentSource::File(path);
    bool (*reader)(const DocumentSource&, DocumentPreview*) = nullptr;
    if (IsDTPContent(source, "")) {
        reader = MakeDTPPreview;
    } else if (IsScrapContent(source)) {
        reader = MakeScrapPreview;
    } else if (IsArtContent(source)) {
        reader = MakeArtPreview;
    } else if (IsFlourishContent(source)) {
        reader = MakeFlourishPreview;
    }
    if (reader != nullptr) {
        *is_document = true;
        return reader(source, preview);
    }
    for (const char* tag : kPilotTags) {
        if (IsPilot(path, tag, "", {})) {
            *is_document = true;
            return MakePilotPreview(path, preview);
        }
    }
    *is_document = false;
    return false;
}

bool WritePngFile(const std::string& path, const RgbaImage& image) {
    std::vector<uint8_t> bytes;
    if (!EncodeRgbaPng(image, {{"Software", "scopa"}}, &bytes)) return false;
    std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

// A local path from a path or a "file:" URI; "" for other URIs.
std::string InputPath(const std::string& input) {
    if (input.rfind("file:", 0) != 0) return input;
    return PathOfFileUri(input).value_or("");
}

int MakeThumbnail(const Arguments& arguments) {
    if (arguments.positional.size() != 2) {
        return Fail(kCommandName, "expects INPUT and OUTPUT.png (see --help)", kExitUsage);
    }
    long long size = kDefaultSizePx, time_limit = kDefaultTimeLimitS,
              memory_limit = kDefaultMemoryLimitMb;
    if ((arguments.Has("-s") &&
         !ParseNumber(*arguments.Value("-s"), kMinSizedThumbnailPx, kMaxSizedThumbnailPx, &size)) ||
        (arguments.Has("--time-limit") &&
         !ParseNumber(*arguments.Value("--time-limit"), 0, 3600, &time_limit)) ||
        (arguments.Has("--memory-limit") &&
         !ParseNumber(*arguments.Value("--memory-limit"), 0, 1 << 20, &memory_limit))) {
        return Fail(kCommandName, "a size or limit is not a number in range", kExitUsage);
    }
    ApplyLimits(unsigned(time_limit), unsigned(memory_limit));
    std::string path = InputPath(arguments.positional[0]);
    const std::string& output = arguments.positional[1];
    struct stat status {};
    // Only regular files: a FIFO or device would block or never end.
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::access(path.c_str(), R_OK) != 0) {
        return Fail(kCommandName, "cannot read " + arguments.positional[0]);
    }
    RgbaImage image;
    DocumentPreview preview;
    bool is_document = false;
    if (ReadStoredPreview(path, &preview, &is_document)) {
        image = ScaleDibToSize(PreviewToDib(preview), int32_t(size));
    } else if (is_document) {
        return Fail(kCommandName, path + " carries no preview");
    } else if (RenderSizedThumbnail(path, int32_t(size), &image) != kLoadRead) {
        return Fail(kCommandName, "cannot read the picture " + path);
    }
    if (image.IsEmpty()) return Fail(kCommandName, "cannot draw the preview of " + path);
    if (!WritePngFile(output, image)) return Fail(kCommandName, "cannot write " + output);
    return kExitOk;
}

// Running out of the address-space limit is an answer like any other failure.
int RunThumbnail(const Arguments& arguments) {
    try {
        return MakeThumbnail(arguments);
    } catch (const std::bad_alloc&) {
        return Fail(kCommandName, "memory limit reached");
    }
}

const RegisterCommand kRegistration({
    kCommandName,
    "thumbnail [-s SIZE] INPUT OUTPUT.png",
    "make a file manager's thumbnail of a document, pilot or picture",
    "Writes an RGBA PNG whose long side is SIZE (default 256): the preview stored in a\n"
    "desktop-publishing, scrap, art, snippet or styled-text document, a pilot program's\n"
    "bitmap, or the picture itself (metafiles are drawn at that size). INPUT may be a path\n"
    "or a file:// URI, as the thumbnailer entry passes %i. The run stops with an error when\n"
    "it exceeds its time or memory limit.",
    {{"-s", true, "long side of the thumbnail in pixels (1 to 2048)"},
     {"--time-limit", true, "seconds of processor time (wall clock: twice that); 0: none"},
     {"--memory-limit", true, "megabytes of address space; 0: none"}},
    RunThumbnail,
});

}  // namespace
}  // namespace scopa::tool
