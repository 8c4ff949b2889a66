// Folder population: turns a folder into list items. Each child of the folder is resolved
// (shortcuts to their targets), checked against the hidden-file setting, merged in from other
// folders when it is an include file, and classified by the filter text into an item kind.
// Items are appended in enumeration order; the list sorts them afterwards.
//
// Population is a small state machine (CFolderPopulation) so that a host can run it in slices
// from its timer tick, or all at once (Populate).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "list/list_item.h"
#include "shell/insert_disk.h"
#include "shell/shell_path.h"
#include "shell/shortcuts.h"

namespace scopa {

// ---- filter texts ---------------------------------------------------------------------------

inline constexpr std::string_view kFilterAllPictures = "PCF";  // the default
inline constexpr std::string_view kFilterBitmaps = "BMF";
inline constexpr std::string_view kFilterVectors = "LAF";
inline constexpr std::string_view kFilterCustom = "QOR";
inline constexpr std::string_view kFilterDtp = "DTP";
inline constexpr std::string_view kFilterScrap = "SRP";
inline constexpr std::string_view kFilterArt = "ART";
inline constexpr std::string_view kFilterSnippet = "DSP";
inline constexpr std::string_view kFilterStyledText = "FLX";

// ---- extension sets -------------------------------------------------------------------------

// Upper-case extensions of exactly four characters, the dot included (".DTP").
using ExtensionSet = std::vector<std::string>;
inline constexpr size_t kExtensionChars = 4;

// Upper-cases `list_text`, empties the set, then takes the four characters at each '.' and
// goes on after them: "*.DTP;*.TPL" gives ".DTP" and ".TPL". Only three-letter extensions
// can ever match, as a path's last four characters are compared.
void ParseExtensions(ExtensionSet& set, std::string_view list_text);
// The last four characters of `path`, upper-cased, equal an entry of the set.
bool MatchesExtension(const ExtensionSet& set, std::string_view path);

// The six document sets, shared by every list of the process.
enum class DocumentSet { Custom, Dtp, Scrap, Art, Snippet, StyledText };
const ExtensionSet& GetExtensionSet(DocumentSet set);
// Replaces the set named by `filter_text` ("QOR", "DTP", "SRP", "FLX", "ART", "DSP",
// compared case-sensitively); any other text changes nothing and gives false.
bool SetFilterExtensions(std::string_view filter_text, std::string_view list_text);
// Restores the built-in lists: "*.QOR;*.LCP;*.CAN", "*.DTP;*.TPL", "*.SRP;*.DSN",
// "*.ART;*.TEM", "*.DSP", "*.FLX" (what the control's construction does).
void InstallBuiltInFilterExtensions();

// ---- keyword filter -------------------------------------------------------------------------

// The summary-information keyword filter of the process: comma-separated keywords, one of
// which a desktop-publishing document's keywords must contain; empty means no filtering.
const std::string& GetKeywordFilter();
// Stores the filter; true when it differs (case-sensitively) from the one stored.
bool SetKeywordFilter(std::string_view keyword_filter);

// ---- hidden-file setting --------------------------------------------------------------------

// The shell's setting under HKEY_CURRENT_USER: a 32-bit number whose bit 0 shows hidden files.
inline constexpr const char* kExplorerAdvancedKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
inline constexpr const char* kHiddenValueName = "Hidden";
// Reads the setting from the registry store: true only when the value exists and has bit 0
// set (a missing key or value counts as 0).
bool ReadShowHiddenFiles();

// ---- kind tests -----------------------------------------------------------------------------

// Pilot registrations under HKEY_LOCAL_MACHINE, per application, and the tags the pilots'
// version resources carry.
inline constexpr std::string_view kDtpPilotTag = "QLMK";
inline constexpr std::string_view kDtpPilotsKey = "SOFTWARE\\QOR\\Quillmark\\3.0\\Pilots\\";
inline constexpr std::string_view kArtPilotTag = "TSLN";
inline constexpr std::string_view kArtPilotsKey = "SOFTWARE\\QOR\\Tessellan\\4.0\\Pilots\\";

// Each takes the full path and answers false on any failure. The content tests run only
// after the extension matched.
bool IsCustomFile(const std::string& path);
// Also applies the keyword filter.
bool IsDTPDocument(const std::string& path);
bool IsScrapDocument(const std::string& path);
bool IsArtDocument(const std::string& path);
bool IsSnippetDocument(const std::string& path);
bool IsFlourishDocument(const std::string& path);
// The pilot test with the registry check through the registry store.
bool IsPilotProgram(const std::string& path, std::string_view application_tag,
                    std::string_view registry_path);

// The kind a file (not a folder) gets under `filter`: the tests of the filter's row in order;
// any text that is no document filter asks IsPictureOfKind by extension. nullopt: no item.
std::optional<ListItemKind> ClassifyFile(const std::string& path, const std::string& filter);

// ---- include files --------------------------------------------------------------------------

// An include file's name begins with "HASH" and ends with ".INC", in any letter case. Its
// first line names a folder whose contents are shown as if they were in the include file's
// folder:
//   "/Pictures" (or "\Pictures")  the folder on the include file's own volume (relative to
//                                 its mount point)
//   "?:/Photos" and a second line "HOLIDAY"   the folder /Photos on the disk labelled HOLIDAY
//   anything else                 the folder path as written
inline constexpr std::string_view kIncludeNamePrefix = "HASH";
inline constexpr std::string_view kIncludeNameSuffix = ".INC";
// Lines longer than the longest path are no folder names; only this much is ever read.
inline constexpr size_t kMaxIncludeLineBytes = 4096;
inline constexpr size_t kMaxIncludeReadBytes = 2 * kMaxIncludeLineBytes + 2;

bool IsIncludeFileName(std::string_view path);

// The first two lines of an include file, trimmed of white space at both ends. A line ends
// at '\n' and at the first NUL (what a text reader of a binary file sees); a line longer
// than kMaxIncludeLineBytes is refused (nullopt when it is the first one, empty when it is
// the second). `second` is empty when there is none.
struct IncludeLines {
    std::string first;
    std::string second;
};
std::optional<IncludeLines> ParseIncludeText(std::string_view bytes);

// What resolving an include file may need: the label-to-drive memory of the preferences
// (the control's m_mapHashIncPrefs; null keeps a private one for the call) and the dialog
// that asks for a missing disk (empty: give up at once).
struct IncludeContext {
    std::map<std::string, std::string>* include_drives = nullptr;
    InsertDiskPrompt insert_disk_prompt;
    // Finds mounted volumes by label (empty: the mounted volumes).
    VolumeFinder volume_finder;
};

// The folder path named by the include file at `path`; "" for any other file, a file that
// cannot be read or a first line that names nothing.
std::string ResolveInclude(const std::string& path, const IncludeContext& context);

// ---- population -----------------------------------------------------------------------------

// Where population puts its items: the list.
class IPopulationSink {
public:
    virtual ~IPopulationSink() = default;
    // The owner handed to each item (extensions setting, drives folder).
    virtual const IListItemOwner* ItemOwner() const = 0;
    virtual void AppendItem(std::unique_ptr<CListItem> item) = 0;
};

struct PopulationOptions {
    std::string filter = std::string(kFilterAllPictures);
    IncludeContext include;
    // Finds volumes by label for ".lnk" targets (empty: the mounted volumes).
    VolumeFinder volume_finder;
    // Shows hidden entries whatever the registry's setting says (a tool's --hidden).
    bool show_hidden = false;
};

class CFolderPopulation {
public:
    CFolderPopulation(IPopulationSink& sink, PopulationOptions options);

    // Starts over with `folder`: reads the hidden-file setting and opens the folder. A folder
    // that cannot be enumerated gives no items.
    void Start(const CShellPath& folder);
    // Handles up to `max_entries` children (at least one step of work); true when finished.
    bool Step(size_t max_entries);
    // Works until finished or until `budget_ms` has passed; true when finished.
    bool StepFor(int budget_ms);
    void RunToEnd();
    bool IsDone() const { return m_frames.empty(); }

    // The path of the shown folder's own "backdrop.imf", "" when it has none.
    const std::string& GetBackdropPath() const { return m_backdropPath; }
    const PopulationOptions& options() const { return m_options; }

private:
    // One folder being populated: its enumeration, then the folders its include files name.
    struct Frame {
        CShellPath folder;
        bool top = false;
        bool enumerating = false;
        bool started = false;  // FirstChild was asked
        std::vector<std::string> merges;
        size_t next_merge = 0;
    };

    void PushFolder(CShellPath folder, bool top);
    // Handles one child of the innermost folder, or moves on to its merges; one unit of work.
    void Advance();
    // `details` is what enumeration read of the child besides its item.
    void HandleChild(Frame& frame, CShellPath& child, const EntryDetails& details);
    // The folder's identity (device and inode); false when it cannot be read.
    bool MarkVisited(const CShellPath& folder);

    IPopulationSink& m_sink;
    PopulationOptions m_options;
    std::map<std::string, std::string> m_privateIncludeDrives;
    bool m_showHidden = false;
    std::vector<Frame> m_frames;
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_visited;
    std::string m_backdropPath;
    EntryDetails m_childDetails;  // kept between children so its text buffer is reused
};

// The whole population at once: appends the folder's items (and those of the folders its
// include files name) to `sink`, and sets `backdrop_path` when the folder has a backdrop
// (left unchanged otherwise).
void Populate(IPopulationSink& sink, const CShellPath& folder, const PopulationOptions& options,
              std::string& backdrop_path);

// The decoration picture drawn behind the thumbnails, found among the folder's own children.
inline constexpr std::string_view kBackdropFileName = "backdrop.imf";

}  // namespace scopa
