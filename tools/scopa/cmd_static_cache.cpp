// scopa static-cache: makes a compressed read-only preview cache of every picture under a
// folder and registers it, printing the progress texts as they come.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "cache/static_cache_creation.h"
#include "command.h"

namespace scopa::tool {
namespace {

constexpr const char* kCommandName = "static-cache";
// The feedback text that says the new cache's index could not be written.
constexpr std::string_view kIndexWriteFailureText = "Preview Index: Write failure\r";

// A worker count of 0 to 256; false for anything else.
bool ParseWorkerCount(const std::string& text, int& count) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, count);
    return error == std::errc() && stop == end && count >= 0 && count <= 256;
}

int RunStaticCache(const Arguments& arguments) {
    if (arguments.positional.size() != 2) {
        return Fail(kCommandName, "expects CACHE_PATH and ROOT (see --help)", kExitUsage);
    }
    int workers = kOneWorkerPerCore;
    if (auto text = arguments.Value("--workers"); text && !ParseWorkerCount(*text, workers)) {
        return Fail(kCommandName, "--workers expects a count from 0 to 256", kExitUsage);
    }
    // The registration must name the files from anywhere: relative paths are made absolute.
    std::string cache_path = PathFromArgument(arguments.positional[0]);
    std::string root = PathFromArgument(arguments.positional[1]);
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) {
        return Fail(kCommandName, root + " is not a folder");
    }
    bool index_failed = false;
    bool created = CreateStaticCache(
        cache_path, root,
        [&index_failed](const std::string& text) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
            if (text == kIndexWriteFailureText) index_failed = true;
        },
        workers);
    if (!created) return Fail(kCommandName, "cannot create the data file " + cache_path + ".pvd");
    if (index_failed) {
        return Fail(kCommandName,
                    "cannot write the index " + cache_path + ".pvi; the previous cache is kept");
    }
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "static-cache [--workers N] CACHE_PATH ROOT",
    "Make and register a read-only cache of every picture under ROOT",
    "Every picture file under ROOT (judged by content; linked folders are not followed) is\n"
    "made into a thumbnail and stored compressed in CACHE_PATH.pvd with its index\n"
    "CACHE_PATH.pvi. The cache is registered under HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\\n"
    "PreviewCaches, replacing a registration of the same index file, so later runs find the\n"
    "thumbnails without making them. An existing cache of that name is replaced: the new\n"
    "one holds only what this run made; it is built as CACHE_PATH.building.pvi/.pvd and\n"
    "renamed into place at the end, so a run that fails or is interrupted leaves the old\n"
    "cache and its registration working. The progress texts are printed as they come (lines\n"
    "end in CR LF). Pictures are decoded on one worker thread per core (or N; 0 decodes\n"
    "on the main thread); the records and texts come in the same order whatever the count.\n"
    "Exit status 0 unless the data file or the index cannot be written.",
    {{"--workers", true, "decoding threads (default: one per core; 0: none)"}},
    RunStaticCache,
});

}  // namespace
}  // namespace scopa::tool
