// File and folder icons from the user's icon theme: the theme's index file is read to know
// its folders and their sizes, an icon name is looked for through the theme, the themes it
// inherits from and "hicolor", and the file found (PNG or SVG) is drawn at the size asked for.
// Icons nobody's theme has are our own plain file and folder pictures.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "resources/icon_image.h"

namespace scopa {

// ---- the index file ("index.theme") ----

struct IconThemeDirectory {
    enum class Type { kFixed, kScalable, kThreshold };
    std::string name;  // relative to the theme's folder, e.g. "32x32/places"
    Type type = Type::kThreshold;
    int size_px = 0;
    int scale = 1;
    int min_size_px = 0;
    int max_size_px = 0;
    int threshold_px = 2;
};

struct IconThemeIndex {
    std::vector<std::string> inherits;
    std::vector<IconThemeDirectory> directories;
};

// Limits against a hostile index file: real themes have a few hundred folders, a couple of
// parents and sizes up to 512 (1024 for scalable ranges).
inline constexpr size_t kMaxIconThemeIndexBytes = size_t(1) << 20;
inline constexpr size_t kMaxIconThemeDirectories = 4096;
inline constexpr size_t kMaxIconThemeInherits = 16;
inline constexpr int kMaxIconThemeSizePx = 4096;

// Reads the text of an index file; nullopt when it has no "[Icon Theme]" group. Directories
// without a usable "Size" are left out; unknown keys and groups are ignored.
std::optional<IconThemeIndex> ParseIconThemeIndex(std::string_view text);

// The icon theme rules for choosing a folder: an exact match, else the nearest one.
bool DirectoryMatchesSize(const IconThemeDirectory& directory, int size_px);
int DirectorySizeDistance(const IconThemeDirectory& directory, int size_px);

// ---- looking icons up ----

// The folders that hold themes: ~/.icons, $XDG_DATA_HOME/icons, each of $XDG_DATA_DIRS
// (default /usr/local/share:/usr/share) + "/icons", then /usr/share/pixmaps.
std::vector<std::string> DefaultIconBaseFolders();
// The user's theme as the toolkit settings name it (gtk-3.0 settings.ini), else "Adwaita".
std::string CurrentIconThemeName();

class IconThemeLookup {
public:
    IconThemeLookup(std::vector<std::string> base_folders, std::string theme_name);
    ~IconThemeLookup();
    IconThemeLookup(const IconThemeLookup&) = delete;
    IconThemeLookup& operator=(const IconThemeLookup&) = delete;

    // The file of icon `name` for `size_px`: the theme, its parents depth first, "hicolor",
    // then a loose file in a base folder. "" when none has it.
    std::string FindIconFile(std::string_view name, int size_px);

private:
    struct Theme;
    const Theme* LoadTheme(const std::string& name);
    std::string FindInTheme(const Theme& theme, std::string_view name, int size_px);
    bool HasFile(const std::string& folder, const std::string& file_name);

    std::vector<std::string> m_baseFolders;
    std::string m_themeName;
    std::map<std::string, std::unique_ptr<Theme>> m_themes;  // null: no such theme
    std::map<std::string, std::unordered_set<std::string>> m_folderFiles;
};

// Draws an icon file (".png" or ".svg") at `size_px` square; empty when it cannot be read.
IconImage LoadIconFile(const std::string& path, int size_px);

// The icon for a theme icon name (as the MIME database gives it) at 16 or 32 pixels, from the
// user's theme, its fallbacks, or our own file or folder picture: never empty for those
// sizes. Found once per name and size for the life of the process; any thread may ask.
const IconImage& LoadThemeIcon(std::string_view icon_name, int size_px);

}  // namespace scopa
