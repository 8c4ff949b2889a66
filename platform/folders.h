// Where things live on this platform: the temporary folder, the program's folder, the user's
// home, configuration and cache folders, and the rule for hidden names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace scopa {

// $TMPDIR when set and non-empty, else "/tmp". No trailing '/'.
std::string TemporaryFolder();

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

// $XDG_CONFIG_HOME/scopa, else ~/.config/scopa.
std::string DefaultConfigFolder();

// $XDG_CACHE_HOME/scopa, else ~/.cache/scopa.
std::string DefaultCacheFolder();

// The folders searched, in order, for a bare decoration file name such as "backdrop.imf":
// the running executable's folder, then the installed data folder (<prefix>/share/scopa, or
// $SCOPA_DATA_DIR when that is an absolute path).
std::vector<std::string> ProgramFolders();

// The first of ProgramFolders() that holds `file_name`, joined with it; "" when none does.
std::string FindProgramFile(std::string_view file_name);

// A file or folder is hidden when its name begins with '.'.
bool IsHiddenName(std::string_view name);

}  // namespace scopa
