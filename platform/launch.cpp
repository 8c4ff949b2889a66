#include "platform/launch.h"

#include <gio/gio.h>

#include <memory>

#include "platform/loaded_libraries.h"

namespace scopa {
namespace {

struct GStrvDeleter {
    void operator()(char** strings) const { Gio().strfreev(strings); }
};
struct GObjectDeleter {
    void operator()(void* object) const { Gio().object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

}  // namespace

bool SplitCommandWords(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    int count = 0;
    char** parsed = nullptr;
    // g_shell_parse_argv fails on an empty command and on unbalanced quotes.
    if (!LoadGio()) return false;
    if (!Gio().shell_parse_argv(command.c_str(), &count, &parsed, nullptr)) return false;
    std::unique_ptr<char*, GStrvDeleter> owner(parsed);
    for (int i = 0; i < count; ++i)
        words.emplace_back(parsed[i]);
    return !words.empty();
}

bool StartProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& word : argv)
        pointers.push_back(const_cast<char*>(word.c_str()));
    pointers.push_back(nullptr);
    // The child is not waited for; GLib reaps it when no child watch is set.
    if (!LoadGio()) return false;
    return Gio().spawn_async(nullptr, pointers.data(), nullptr,
                             static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH), nullptr, nullptr,
                             nullptr, nullptr) != FALSE;
}

bool OpenWithDefaultApplication(const std::string& path) {
    if (!LoadGio()) return false;
    GObjectPtr<GFile> file(Gio().file_new_for_path(path.c_str()));
    GObjectPtr<GFileInfo> info(Gio().file_query_info(file.get(),
                                                     G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                     G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info) return false;
    const char* content_type = Gio().file_info_get_content_type(info.get());
    if (content_type == nullptr) return false;
    GObjectPtr<GAppInfo> application(Gio().app_info_get_default_for_type(content_type, FALSE));
    if (!application) return false;
    GList files = {file.get(), nullptr, nullptr};
    return Gio().app_info_launch(application.get(), &files, nullptr, nullptr) != FALSE;
}

}  // namespace scopa
