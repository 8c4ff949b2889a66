#include "list/population.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <utility>

#include "documents/document_previews.h"
#include "documents/pilot_programs.h"
#include "imaging/picture.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace scopa {

namespace {

// ---- extension sets and keyword filter (process-wide) ----

constexpr size_t kDocumentSetCount = 6;

struct BuiltInSet {
    DocumentSet set;
    std::string_view filter_text;
    std::string_view list_text;
};
// In the order the filter texts are compared when a set is replaced.
constexpr std::array<BuiltInSet, kDocumentSetCount> kBuiltInSets = {{
    {DocumentSet::Custom, kFilterCustom, "*.QOR;*.LCP;*.CAN"},
    {DocumentSet::Dtp, kFilterDtp, "*.DTP;*.TPL"},
    {DocumentSet::Scrap, kFilterScrap, "*.SRP;*.DSN"},
    {DocumentSet::StyledText, kFilterStyledText, "*.FLX"},
    {DocumentSet::Art, kFilterArt, "*.ART;*.TEM"},
    {DocumentSet::Snippet, kFilterSnippet, "*.DSP"},
}};

std::array<ExtensionSet, kDocumentSetCount>& ExtensionSets() {
    static std::array<ExtensionSet, kDocumentSetCount> sets = [] {
        std::array<ExtensionSet, kDocumentSetCount> built;
        for (const BuiltInSet& entry : kBuiltInSets) {
            ParseExtensions(built[static_cast<size_t>(entry.set)], entry.list_text);
        }
        return built;
    }();
    return sets;
}

std::string& KeywordFilter() {
    static std::string filter;
    return filter;
}

// ---- include files ----

std::string BackslashesToSlashes(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

// `path_on_volume` ('/' first) below the mount point of the volume that holds `file_path`.
std::string OnVolumeOf(const std::string& file_path, const std::string& path_on_volume) {
    std::optional<Volume> volume = VolumeOfPath(file_path);
    if (!volume || volume->mount_point == "/") return path_on_volume;
    return volume->mount_point + path_on_volume;
}

// The first kMaxIncludeReadBytes of a regular file; nullopt when it cannot be read.
std::optional<std::string> ReadIncludeHead(const std::string& path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return std::nullopt;
    std::string buffer(kMaxIncludeReadBytes, '\0');
    size_t filled = 0;
    while (filled < buffer.size()) {
        ssize_t got = read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    close(fd);
    buffer.resize(filled);
    return buffer;
}

// Splits off the next line (up to '\n', which is dropped); false when it is too long.
bool TakeLine(std::string_view& rest, std::string& line) {
    size_t end = rest.find('\n');
    std::string_view raw = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (raw.size() > kMaxIncludeLineBytes) return false;
    // A text reader's string ends at the first NUL of a binary line.
    raw = raw.substr(0, raw.find('\0'));
    line = std::string(TrimWhiteSpace(raw));
    return true;
}

// ---- population ----

// The last-write time of the entry as enumerated. A symbolic link's own time is left for the
// item to read when it is asked: the link's target status is all that listing needs.
std::int64_t EntryTime(const CShellPath& child) {
    if (child.IsSymbolicLink()) return kTimeNotRead;
    return child.GetModifiedTime();
}

// Whether a shortcut may stand behind the entry: ResolveShortcut copies the path, so it is
// asked only for entries that can be shortcuts.
bool MayBeShortcut(const CShellPath& child) {
    return EndsWithNoCase(child.GetPathText(), ".LNK") || child.IsSymbolicLink();
}

bool StatusWasRead(const FileStatus& status) {
    return (status.attributes & (kFileAttributeDirectory | kFileAttributeArchive)) != 0;
}

// The clock is read once per this many children while a time budget runs.
constexpr size_t kChildrenPerClockRead = 32;

}  // namespace

// ---- extension sets ----

void ParseExtensions(ExtensionSet& set, std::string_view list_text) {
    std::string upper = ToUpperAscii(list_text);
    set.clear();
    size_t dot = upper.find('.');
    while (dot != std::string::npos) {
        set.push_back(upper.substr(dot, kExtensionChars));
        if (dot + kExtensionChars >= upper.size()) break;
        dot = upper.find('.', dot + kExtensionChars);
    }
}

bool MatchesExtension(const ExtensionSet& set, std::string_view path) {
    if (path.size() < kExtensionChars) return false;
    std::string last = ToUpperAscii(path.substr(path.size() - kExtensionChars));
    for (const std::string& entry : set) {
        if (entry == last) return true;
    }
    return false;
}

const ExtensionSet& GetExtensionSet(DocumentSet set) {
    return ExtensionSets()[static_cast<size_t>(set)];
}

bool SetFilterExtensions(std::string_view filter_text, std::string_view list_text) {
    for (const BuiltInSet& entry : kBuiltInSets) {
        if (entry.filter_text == filter_text) {
            ParseExtensions(ExtensionSets()[static_cast<size_t>(entry.set)], list_text);
            return true;
        }
    }
    return false;
}

void InstallBuiltInFilterExtensions() {
    for (const BuiltInSet& entry : kBuiltInSets) {
        ParseExtensions(ExtensionSets()[static_cast<size_t>(entry.set)], entry.list_text);
    }
}

// ---- keyword filter and hidden files ----

const std::string& GetKeywordFilter() {
    return KeywordFilter();
}

bool SetKeywordFilter(std::string_view keyword_filter) {
    if (KeywordFilter() == keyword_filter) return false;
    KeywordFilter() = std::string(keyword_filter);
    return true;
}

bool ReadShowHiddenFiles() {
    RegistryKey key = RegistryKey::Open(HKEY_CURRENT_USER, kExplorerAdvancedKey);
    std::optional<DWORD> hidden = key.ReadDword(kHiddenValueName);
    return hidden && (*hidden & 1u) != 0;
}

// ---- kind tests ----

bool IsCustomFile(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::Custom), path);
}

bool IsDTPDocument(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::Dtp), path) &&
           IsDTPContent(DocumentSource::File(path), GetKeywordFilter());
}

bool IsScrapDocument(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::Scrap), path) &&
           IsScrapContent(DocumentSource::File(path));
}

bool IsArtDocument(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::Art), path) &&
           IsArtContent(DocumentSource::File(path));
}

bool IsSnippetDocument(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::Snippet), path) &&
           IsSnippetContent(DocumentSource::File(path));
}

bool IsFlourishDocument(const std::string& path) {
    return MatchesExtension(GetExtensionSet(DocumentSet::StyledText), path) &&
           IsFlourishContent(DocumentSource::File(path));
}

bool IsPilotProgram(const std::string& path, std::string_view application_tag,
                    std::string_view registry_path) {
    auto registered = [](const std::string& key_path) {
        return RegistryKey::Open(HKEY_LOCAL_MACHINE, key_path).IsOpen();
    };
    return IsPilot(path, application_tag, registry_path, registered);
}

std::optional<ListItemKind> ClassifyFile(const std::string& path, const std::string& filter) {
    auto kind_if = [](bool test, ListItemKind kind) -> std::optional<ListItemKind> {
        return test ? std::optional<ListItemKind>(kind) : std::nullopt;
    };
    if (filter == kFilterCustom) return kind_if(IsCustomFile(path), ListItemKind::Custom);
    if (filter == kFilterDtp) {
        if (IsDTPDocument(path)) return ListItemKind::Dtp;
        return kind_if(IsPilotProgram(path, kDtpPilotTag, kDtpPilotsKey), ListItemKind::Pilot);
    }
    if (filter == kFilterScrap) return kind_if(IsScrapDocument(path), ListItemKind::Scrap);
    if (filter == kFilterArt) {
        if (IsArtDocument(path)) return ListItemKind::Art;
        return kind_if(IsPilotProgram(path, kArtPilotTag, kArtPilotsKey), ListItemKind::Pilot);
    }
    if (filter == kFilterSnippet) return kind_if(IsSnippetDocument(path), ListItemKind::Snippet);
    if (filter == kFilterStyledText) {
        return kind_if(IsFlourishDocument(path), ListItemKind::StyledText);
    }
    return kind_if(IsPictureOfKind(path, filter, false), ListItemKind::Picture);
}

// ---- include files ----

bool IsIncludeFileName(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return EndsWithNoCase(path, kIncludeNameSuffix) && StartsWithNoCase(name, kIncludeNamePrefix);
}

std::optional<IncludeLines> ParseIncludeText(std::string_view bytes) {
    IncludeLines lines;
    if (!TakeLine(bytes, lines.first)) return std::nullopt;
    if (!TakeLine(bytes, lines.second)) lines.second.clear();
    return lines;
}

std::string ResolveInclude(const std::string& path, const IncludeContext& context) {
    if (!IsIncludeFileName(path)) return {};
    std::optional<std::string> head = ReadIncludeHead(path);
    if (!head) return {};
    std::optional<IncludeLines> lines = ParseIncludeText(*head);
    if (!lines || lines->first.empty()) return {};
    const std::string& first = lines->first;
    if (first[0] == '/' || first[0] == '\\') {
        return OnVolumeOf(path, BackslashesToSlashes(first));
    }
    if (first[0] == '?') {
        // "?:" stands for the drive of the disk named on the second line.
        std::string path_on_disk = first.size() > 2 ? BackslashesToSlashes(first.substr(2)) : "";
        std::map<std::string, std::string> private_drives;
        std::map<std::string, std::string>& drives =
            context.include_drives != nullptr ? *context.include_drives : private_drives;
        return FindFolderOnDisk(lines->second, path_on_disk, drives, context.insert_disk_prompt,
                                context.volume_finder);
    }
    return first;
}

// ---- population ----

CFolderPopulation::CFolderPopulation(IPopulationSink& sink, PopulationOptions options)
    : m_sink(sink), m_options(std::move(options)) {
    if (m_options.include.include_drives == nullptr) {
        m_options.include.include_drives = &m_privateIncludeDrives;
    }
    if (!m_options.include.volume_finder) m_options.include.volume_finder = m_options.volume_finder;
}

void CFolderPopulation::Start(const CShellPath& folder) {
    m_frames.clear();
    m_visited.clear();
    m_backdropPath.clear();
    m_showHidden = m_options.show_hidden || ReadShowHiddenFiles();
    PushFolder(folder, true);
}

bool CFolderPopulation::MarkVisited(const CShellPath& folder) {
    struct stat info {};
    // Virtual folders (the drives folder) have no identity and are never merged twice anyway.
    if (stat(folder.GetPathText().c_str(), &info) != 0) return true;
    return m_visited
        .emplace(static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino))
        .second;
}

void CFolderPopulation::PushFolder(CShellPath folder, bool top) {
    // A folder reached again through include files is not merged twice, which also ends
    // include loops (a file naming its own folder, or two folders naming each other).
    if (!MarkVisited(folder)) return;
    Frame frame;
    frame.folder = std::move(folder);
    frame.top = top;
    frame.enumerating = true;
    m_frames.push_back(std::move(frame));
}

bool CFolderPopulation::Step(size_t max_entries) {
    for (size_t done = 0; done < max_entries && !IsDone(); ++done)
        Advance();
    return IsDone();
}

bool CFolderPopulation::StepFor(int budget_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget_ms);
    while (!IsDone()) {
        Step(kChildrenPerClockRead);
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    return IsDone();
}

void CFolderPopulation::RunToEnd() {
    while (!IsDone())
        Advance();
}

void CFolderPopulation::Advance() {
    Frame& frame = m_frames.back();
    if (frame.enumerating) {
        CShellPath child;
        bool more = frame.started ? frame.folder.NextChild(child, &m_childDetails)
                                  : frame.folder.FirstChild(child, &m_childDetails);
        frame.started = true;
        if (more) {
            HandleChild(frame, child, m_childDetails);
        } else {
            frame.enumerating = false;
        }
        return;
    }
    if (frame.next_merge < frame.merges.size()) {
        std::string text = std::move(frame.merges[frame.next_merge++]);
        PushFolder(CShellPath(text), false);  // `frame` is not used after this
        return;
    }
    m_frames.pop_back();
}

void CFolderPopulation::HandleChild(Frame& frame, CShellPath& child, const EntryDetails& details) {
    const IListItemOwner* owner = m_sink.ItemOwner();
    const bool drives_folder = owner != nullptr && owner->ShowsDrivesFolder();
    // Name and time are the entry's own, so a shortcut keeps them; the rest is the target's.
    std::string name = child.GetDisplayName();
    std::int64_t time_modified = drives_folder ? 0 : EntryTime(child);

    CShellPath target;
    bool shortcut = MayBeShortcut(child) &&
                    ResolveShortcut(child, details, target, m_options.volume_finder) &&
                    target.HasIdList();
    CShellPath& path = shortcut ? target : child;
    const std::string& path_text = path.GetPathText();

    // Only a file can be an include file; a folder of that name is listed like any other.
    if (IsIncludeFileName(path_text) && !path.IsFolder()) {
        std::string included = ResolveInclude(path_text, m_options.include);
        if (!included.empty()) frame.merges.push_back(std::move(included));
        return;  // an include file is never listed
    }
    if (frame.top && EqualsNoCase(name, kBackdropFileName)) m_backdropPath = path_text;

    const FileStatus& status = path.GetStatus();
    if (!StatusWasRead(status)) return;
    bool hidden =
        (status.attributes & kFileAttributeHidden) != 0 || (shortcut && IsHiddenName(name));
    if (hidden && !m_showHidden) return;

    std::optional<ListItemKind> kind = path.IsFolder()
                                           ? std::optional<ListItemKind>(ListItemKind::Folder)
                                           : ClassifyFile(path_text, m_options.filter);
    if (!kind) return;
    std::string shortcut_file = shortcut ? child.GetPathText() : std::string();
    std::unique_ptr<CListItem> item =
        MakeListItem(*kind, owner, std::move(name), time_modified, std::move(path), shortcut);
    item->SetShortcutFilePath(std::move(shortcut_file));
    m_sink.AppendItem(std::move(item));
}

void Populate(IPopulationSink& sink, const CShellPath& folder, const PopulationOptions& options,
              std::string& backdrop_path) {
    CFolderPopulation population(sink, options);
    population.Start(folder);
    population.RunToEnd();
    if (!population.GetBackdropPath().empty()) backdrop_path = population.GetBackdropPath();
}

}  // namespace scopa
