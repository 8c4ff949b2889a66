// Format notes: an index file is an INI-style text of "[Group]" lines and "Key=Value" lines;
// "#" starts a comment line. The "[Icon Theme]" group lists the theme's folders in
// "Directories" (and "ScaledDirectories"), comma-separated, and its parents in "Inherits";
// each listed folder has a group of its own with "Size" (required), "Scale", "Type" (Fixed,
// Scalable or Threshold, the default), "MinSize", "MaxSize" (both default to Size) and
// "Threshold" (default 2). Values may be followed by spaces; a trailing comma in a list is
// common and means nothing.
#include "resources/icon_theme.h"

#include <cairo.h>
#include <dirent.h>
#include <librsvg/rsvg.h>
#include <png.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <utility>

#include "platform/loaded_libraries.h"
#include "resources/pictures.h"

namespace scopa {
namespace {

constexpr std::string_view kHicolorTheme = "hicolor";
constexpr std::string_view kDefaultTheme = "Adwaita";
// The largest icon file we draw from: bigger pictures are not icons.
constexpr uint32_t kMaxIconFileSidePx = 1024;
constexpr std::string_view kExtensions[] = {".png", ".svg"};

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitList(std::string_view text, size_t limit) {
    std::vector<std::string> items;
    while (!text.empty() && items.size() < limit) {
        size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        if (!item.empty()) items.emplace_back(item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return items;
}

std::optional<int> ParseSize(std::string_view text) {
    text = Trim(text);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > kMaxIconThemeSizePx) return std::nullopt;
    return value;
}

// The keys of one group, as read.
using Group = std::map<std::string, std::string, std::less<>>;

std::optional<IconThemeDirectory> ReadDirectory(const std::string& name, const Group& group) {
    auto value = [&group](std::string_view key) -> std::optional<std::string_view> {
        auto found = group.find(key);
        if (found == group.end()) return std::nullopt;
        return std::string_view(found->second);
    };
    IconThemeDirectory directory;
    directory.name = name;
    std::optional<int> size = value("Size") ? ParseSize(*value("Size")) : std::nullopt;
    if (!size) return std::nullopt;
    directory.size_px = *size;
    auto optional_size = [&](std::string_view key, int fallback) {
        std::optional<int> parsed = value(key) ? ParseSize(*value(key)) : std::nullopt;
        return parsed.value_or(fallback);
    };
    directory.scale = optional_size("Scale", 1);
    directory.min_size_px = optional_size("MinSize", directory.size_px);
    directory.max_size_px = optional_size("MaxSize", directory.size_px);
    directory.threshold_px = optional_size("Threshold", 2);
    std::string_view type = value("Type") ? Trim(*value("Type")) : "Threshold";
    if (type == "Fixed") {
        directory.type = IconThemeDirectory::Type::kFixed;
    } else if (type == "Scalable") {
        directory.type = IconThemeDirectory::Type::kScalable;
    }
    return directory;
}

std::string ReadTextFile(const std::string& path, size_t limit) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::string text(limit, '\0');
    file.read(text.data(), std::streamsize(limit));
    text.resize(size_t(file.gcount()));
    return text;
}

bool IsFolder(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    closedir(dir);
    return true;
}

}  // namespace

std::optional<IconThemeIndex> ParseIconThemeIndex(std::string_view text) {
    if (text.size() > kMaxIconThemeIndexBytes) text = text.substr(0, kMaxIconThemeIndexBytes);
    std::map<std::string, Group, std::less<>> groups;
    Group* current = nullptr;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            current = line.back() == ']' ? &groups[std::string(line.substr(1, line.size() - 2))]
                                         : nullptr;
            continue;
        }
        size_t equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) continue;
        // The first value of a key counts, as in every reader of this format.
        current->try_emplace(std::string(Trim(line.substr(0, equals))),
                             std::string(Trim(line.substr(equals + 1))));
    }
    auto theme_group = groups.find("Icon Theme");
    if (theme_group == groups.end()) return std::nullopt;
    IconThemeIndex index;
    const Group& theme = theme_group->second;
    if (auto found = theme.find("Inherits"); found != theme.end()) {
        index.inherits = SplitList(found->second, kMaxIconThemeInherits);
    }
    for (std::string_view key : {"Directories", "ScaledDirectories"}) {
        auto found = theme.find(key);
        if (found == theme.end()) continue;
        for (const std::string& name : SplitList(found->second, kMaxIconThemeDirectories)) {
            if (index.directories.size() >= kMaxIconThemeDirectories) break;
            auto group = groups.find(name);
            if (group == groups.end()) continue;
            if (auto directory = ReadDirectory(name, group->second)) {
                index.directories.push_back(std::move(*directory));
            }
        }
    }
    return index;
}

bool DirectoryMatchesSize(const IconThemeDirectory& directory, int size_px) {
    if (directory.scale != 1) return false;
    switch (directory.type) {
        case IconThemeDirectory::Type::kFixed:
            return directory.size_px == size_px;
        case IconThemeDirectory::Type::kScalable:
            return directory.min_size_px <= size_px && size_px <= directory.max_size_px;
        case IconThemeDirectory::Type::kThreshold:
            return directory.size_px - directory.threshold_px <= size_px &&
                   size_px <= directory.size_px + directory.threshold_px;
    }
    return false;
}

int DirectorySizeDistance(const IconThemeDirectory& directory, int size_px) {
    int scale = directory.scale;
    switch (directory.type) {
        case IconThemeDirectory::Type::kFixed:
            return std::abs(directory.size_px * scale - size_px);
        case IconThemeDirectory::Type::kScalable:
            if (size_px < directory.min_size_px * scale) {
                return directory.min_size_px * scale - size_px;
            }
            if (size_px > directory.max_size_px * scale) {
                return size_px - directory.max_size_px * scale;
            }
            return 0;
        case IconThemeDirectory::Type::kThreshold: {
            int low = directory.size_px - directory.threshold_px;
            int high = directory.size_px + directory.threshold_px;
            if (size_px < low * scale) return low * scale - size_px;
            if (size_px > high * scale) return size_px - high * scale;
            return 0;
        }
    }
    return 0;
}

std::vector<std::string> DefaultIconBaseFolders() {
    std::vector<std::string> folders;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') folders.push_back(std::string(home) + "/.icons");
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && *data_home != '\0') {
        folders.push_back(std::string(data_home) + "/icons");
    } else if (home != nullptr && *home != '\0') {
        folders.push_back(std::string(home) + "/.local/share/icons");
    }
    const char* data_dirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs =
        data_dirs != nullptr && *data_dirs != '\0' ? data_dirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty()) folders.push_back(std::string(dir) + "/icons");
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    folders.emplace_back("/usr/share/pixmaps");
    return folders;
}

std::string CurrentIconThemeName() {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string config;
    if (config_home != nullptr && *config_home != '\0') {
        config = config_home;
    } else if (home != nullptr && *home != '\0') {
        config = std::string(home) + "/.config";
    }
    if (!config.empty()) {
        std::string text = ReadTextFile(config + "/gtk-3.0/settings.ini", 64 * 1024);
        std::string_view rest = text;
        while (!rest.empty()) {
            size_t end = rest.find('\n');
            std::string_view line = Trim(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            size_t equals = line.find('=');
            if (equals != std::string_view::npos &&
                Trim(line.substr(0, equals)) == "gtk-icon-theme-name") {
                std::string_view name = Trim(line.substr(equals + 1));
                if (!name.empty() && name.find('/') == std::string_view::npos) {
                    return std::string(name);
                }
            }
        }
    }
    return std::string(kDefaultTheme);
}

// ---- lookup ----

struct IconThemeLookup::Theme {
    std::vector<std::string> folders;  // the theme's folder in each base folder that has it
    IconThemeIndex index;
};

IconThemeLookup::IconThemeLookup(std::vector<std::string> base_folders, std::string theme_name)
    : m_baseFolders(std::move(base_folders)), m_themeName(std::move(theme_name)) {}
IconThemeLookup::~IconThemeLookup() = default;

const IconThemeLookup::Theme* IconThemeLookup::LoadTheme(const std::string& name) {
    auto found = m_themes.find(name);
    if (found != m_themes.end()) return found->second.get();
    auto theme = std::make_unique<Theme>();
    bool have_index = false;
    for (const std::string& base : m_baseFolders) {
        std::string folder = base + "/" + name;
        if (!IsFolder(folder)) continue;
        theme->folders.push_back(folder);
        if (have_index) continue;
        std::string text = ReadTextFile(folder + "/index.theme", kMaxIconThemeIndexBytes);
        if (auto index = ParseIconThemeIndex(text)) {
            theme->index = std::move(*index);
            have_index = true;
        }
    }
    if (!have_index) theme.reset();
    return (m_themes[name] = std::move(theme)).get();
}

bool IconThemeLookup::HasFile(const std::string& folder, const std::string& file_name) {
    auto found = m_folderFiles.find(folder);
    if (found == m_folderFiles.end()) {
        std::unordered_set<std::string> names;
        if (DIR* dir = opendir(folder.c_str())) {
            while (dirent* entry = readdir(dir))
                names.insert(entry->d_name);
            closedir(dir);
        }
        found = m_folderFiles.emplace(folder, std::move(names)).first;
    }
    return found->second.count(file_name) != 0;
}

std::string IconThemeLookup::FindInTheme(const Theme& theme, std::string_view name, int size_px) {
    std::string closest;
    int closest_distance = 0;
    for (bool exact : {true, false}) {
        for (const IconThemeDirectory& directory : theme.index.directories) {
            if (exact != DirectoryMatchesSize(directory, size_px)) continue;
            int distance = exact ? 0 : DirectorySizeDistance(directory, size_px);
            if (!exact && !closest.empty() && distance >= closest_distance) continue;
            for (const std::string& folder : theme.folders) {
                std::string subfolder = folder + "/" + directory.name;
                for (std::string_view extension : kExtensions) {
                    std::string file_name = std::string(name) + std::string(extension);
                    if (!HasFile(subfolder, file_name)) continue;
                    if (exact) return subfolder + "/" + file_name;
                    closest = subfolder + "/" + file_name;
                    closest_distance = distance;
                    goto next_directory;
                }
            }
        next_directory:;
        }
    }
    return closest;
}

std::string IconThemeLookup::FindIconFile(std::string_view name, int size_px) {
    if (name.empty() || name.find('/') != std::string_view::npos) return {};
    // The theme and its parents depth first, each theme once, hicolor last.
    std::vector<std::string> pending{m_themeName};
    std::vector<std::string> visited;
    while (!pending.empty() && visited.size() < kMaxIconThemeInherits * 4) {
        std::string theme_name = std::move(pending.back());
        pending.pop_back();
        if (theme_name == kHicolorTheme ||
            std::find(visited.begin(), visited.end(), theme_name) != visited.end()) {
            continue;
        }
        visited.push_back(theme_name);
        const Theme* theme = LoadTheme(theme_name);
        if (theme == nullptr) continue;
        std::string file = FindInTheme(*theme, name, size_px);
        if (!file.empty()) return file;
        for (auto it = theme->index.inherits.rbegin(); it != theme->index.inherits.rend(); ++it) {
            pending.push_back(*it);
        }
    }
    if (const Theme* hicolor = LoadTheme(std::string(kHicolorTheme))) {
        std::string file = FindInTheme(*hicolor, name, size_px);
        if (!file.empty()) return file;
    }
    for (const std::string& base : m_baseFolders) {
        for (std::string_view extension : kExtensions) {
            std::string file_name = std::string(name) + std::string(extension);
            if (HasFile(base, file_name)) return base + "/" + file_name;
        }
    }
    return {};
}

// ---- drawing icon files ----

namespace {

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Each target pixel the average of the source pixels it covers (premultiplied, so edges keep
// their colour).
IconImage ScaleIcon(const IconImage& source, int size_px) {
    if (source.width_px == size_px && source.height_px == size_px) return source;
    IconImage target = IconImage::Blank(size_px, size_px);
    for (int32_t y = 0; y < size_px; ++y) {
        int32_t top = int32_t(int64_t(y) * source.height_px / size_px);
        int32_t bottom = std::max(top + 1, int32_t(int64_t(y + 1) * source.height_px / size_px));
        for (int32_t x = 0; x < size_px; ++x) {
            int32_t left = int32_t(int64_t(x) * source.width_px / size_px);
            int32_t right = std::max(left + 1, int32_t(int64_t(x + 1) * source.width_px / size_px));
            uint64_t sums[4] = {};
            for (int32_t sy = top; sy < bottom; ++sy) {
                for (int32_t sx = left; sx < right; ++sx) {
                    uint32_t pixel = source.At(sx, sy);
                    for (int c = 0; c < 4; ++c)
                        sums[c] += pixel >> (8 * c) & 0xFF;
                }
            }
            uint64_t count = uint64_t(bottom - top) * uint64_t(right - left);
            uint32_t result = 0;
            for (int c = 0; c < 4; ++c)
                result |= uint32_t((sums[c] + count / 2) / count) << (8 * c);
            target.pixels[size_t(y) * size_t(size_px) + size_t(x)] = result;
        }
    }
    return target;
}

IconImage LoadPngIcon(const std::string& path, int size_px) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    if (image.width == 0 || image.height == 0 || image.width > kMaxIconFileSidePx ||
        image.height > kMaxIconFileSidePx) {
        png_image_free(&image);
        return {};
    }
    image.format = PNG_FORMAT_BGRA;
    IconImage icon = IconImage::Blank(int32_t(image.width), int32_t(image.height));
    if (!png_image_finish_read(&image, nullptr, icon.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    // Little-endian B, G, R, A bytes are 0xAARRGGBB words; premultiply them.
    for (uint32_t& pixel : icon.pixels) {
        pixel = PremultipliedArgb(uint8_t(pixel >> 24), uint8_t(pixel >> 16), uint8_t(pixel >> 8),
                                  uint8_t(pixel));
    }
    return ScaleIcon(icon, size_px);
}

IconImage LoadSvgIcon(const std::string& path, int size_px) {
    if (!LoadRsvg() || !LoadCairo()) return {};
    GError* error = nullptr;
    RsvgHandle* handle = Rsvg().handle_new_from_file(path.c_str(), &error);
    if (error != nullptr) Rsvg().error_free(error);
    if (handle == nullptr) return {};
    IconImage icon;
    cairo_surface_t* surface = Cairo().image_surface_create(CAIRO_FORMAT_ARGB32, size_px, size_px);
    if (Cairo().surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        cairo_t* cairo = Cairo().create(surface);
        RsvgRectangle viewport{0, 0, double(size_px), double(size_px)};
        error = nullptr;
        bool drawn = Rsvg().handle_render_document(handle, cairo, &viewport, &error);
        if (error != nullptr) Rsvg().error_free(error);
        Cairo().destroy(cairo);
        Cairo().surface_flush(surface);
        if (drawn) {
            // Cairo's ARGB32 is premultiplied 0xAARRGGBB in native words, as icons are.
            icon = IconImage::Blank(size_px, size_px);
            const uint8_t* data = Cairo().image_surface_get_data(surface);
            int stride = Cairo().image_surface_get_stride(surface);
            for (int y = 0; y < size_px; ++y) {
                const auto* row =
                    reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
                std::copy(row, row + size_px, icon.pixels.begin() + ptrdiff_t(y) * size_px);
            }
        }
    }
    Cairo().surface_destroy(surface);
    Rsvg().object_unref(handle);
    return icon;
}

bool IsFolderIconName(std::string_view name) {
    return name.starts_with("folder") || name.starts_with("user-") || name == "computer" ||
           name.starts_with("drive-") || name.starts_with("inode-directory");
}

}  // namespace

IconImage LoadIconFile(const std::string& path, int size_px) {
    if (size_px < 1 || size_px > int(kMaxIconFileSidePx)) return {};
    if (EndsWith(path, ".png")) return LoadPngIcon(path, size_px);
    if (EndsWith(path, ".svg")) return LoadSvgIcon(path, size_px);
    return {};
}

const IconImage& LoadThemeIcon(std::string_view icon_name, int size_px) {
    static std::mutex mutex;
    static std::unique_ptr<IconThemeLookup> lookup;
    static std::map<std::pair<std::string, int>, IconImage, std::less<>> icons;
    std::lock_guard lock(mutex);
    auto key = std::make_pair(std::string(icon_name), size_px);
    if (auto found = icons.find(key); found != icons.end()) return found->second;
    if (!lookup) {
        lookup =
            std::make_unique<IconThemeLookup>(DefaultIconBaseFolders(), CurrentIconThemeName());
    }
    // The name, then the generic icon of its kind ("image-png" gives "image-x-generic").
    std::vector<std::string> names{key.first};
    size_t dash = key.first.find('-');
    if (dash != std::string::npos && !key.first.ends_with("-x-generic")) {
        names.push_back(key.first.substr(0, dash) + "-x-generic");
    }
    IconImage icon;
    for (const std::string& name : names) {
        std::string file = lookup->FindIconFile(name, size_px);
        if (!file.empty()) icon = LoadIconFile(file, size_px);
        if (!icon.IsEmpty()) break;
    }
    if (icon.IsEmpty()) {
        icon =
            IsFolderIconName(key.first) ? FallbackFolderIcon(size_px) : FallbackFileIcon(size_px);
    }
    return icons.emplace(std::move(key), std::move(icon)).first->second;
}

}  // namespace scopa
