// The process-wide registry store: the two hives, the open handles, and the persistence of
// each hive in its .reg file.
//
// Persistence model. Each hive holds the tree last read from its file plus a journal of the
// changes this process made since; the tree seen by callers is the file's tree with the
// journal applied. A save takes an advisory lock (flock) on "<file>.lock", reads the file
// again, applies the journal on top, writes "<file>.tmp.<pid>", fsyncs it and renames it over
// the file. Another process's changes written meanwhile are therefore kept, and two writers
// never interleave. Every call first checks the file's identity (inode, size, mtime) and, when
// another process replaced it, reads it again and re-applies the pending journal. (A
// replacement that reuses the inode number, keeps the size and lands in the same timestamp
// tick goes unseen by reads until the next change; saves never depend on the check.)
//
// A file that had unreadable lines is copied to "<file>.damaged" (or ".damaged.2", ...) before
// the first save replaces it, so nothing it held is lost.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "platform/registry.h"
#include "platform/registry_file.h"
#include "platform/registry_tree.h"
#include "platform/regular_file.h"
#include "platform/text.h"

namespace scopa {
namespace {

namespace fs = std::filesystem;

constexpr int kHiveCount = 2;
// Damaged-file copies get numbered names; past this many the save gives up rather than
// overwrite an older copy.
constexpr int kMaxDamagedCopies = 100;

struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const fs::path& path) {
    struct stat info {};
    FileStamp stamp;
    if (::stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.mtime_ns = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

fs::path RegistryFolder() {
    if (const char* dir = std::getenv("SCOPA_REGISTRY_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return fs::path(config) / "scopa";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const struct passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : "/tmp";
    }
    return fs::path(home) / ".config" / "scopa";
}

// The whole file (empty when there is none); false when it cannot be read or is larger than
// kRegMaxFileBytes, which no file of this store reaches: such a file is left alone, never
// replaced by the part of it that was read.
bool ReadWholeFile(const fs::path& path, std::string& bytes) {
    bytes.clear();
    int fd = OpenRegularFile(path.string());
    if (fd < 0) return errno == ENOENT;
    char buffer[65536];
    bool ok = true;
    while (true) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (bytes.size() + size_t(got) > kRegMaxFileBytes) {
            ok = false;
            break;
        }
        bytes.append(buffer, size_t(got));
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

// Writes `bytes` to `path` through a temporary file and a rename.
bool ReplaceFile(const fs::path& path, std::string_view bytes) {
    fs::path temporary = path;
    temporary += ".tmp." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

// Keeps a damaged file's bytes under the first free "<file>.damaged[.N]" name.
bool KeepDamagedCopy(const fs::path& path, std::string_view bytes) {
    for (int number = 1; number <= kMaxDamagedCopies; ++number) {
        fs::path copy = path;
        copy += number == 1 ? std::string(".damaged") : ".damaged." + std::to_string(number);
        std::error_code error;
        if (fs::exists(copy, error) || error) continue;
        return ReplaceFile(copy, bytes);
    }
    return false;
}

// An exclusive advisory lock on "<file>.lock", held for the object's life.
class HiveLock {
public:
    explicit HiveLock(const fs::path& file) {
        fs::path lock_path = file;
        lock_path += ".lock";
        m_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~HiveLock() {
        if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

struct Hive {
    RegHiveId id = RegHiveId::kLocalMachine;
    const char* file_name = "";
    bool loaded = false;
    fs::path file;
    FileStamp stamp;
    RegKeyNode tree;                 // the file's tree with the journal applied
    std::vector<RegChange> journal;  // this process's changes not yet in the file
    int open_handles = 0;
};

struct OpenKey {
    int hive = 0;
    RegKeyPath path;
};

// Builds a hive's tree from a file's content, counting lines of the other hive as damage
// (the hive's own file holds only its own keys, and a save would drop them).
RegKeyNode TreeFromFile(const RegFileContent& content, RegHiveId hive, bool& damaged) {
    RegKeyNode root;
    damaged = content.IsDamaged() || content.other_hive_lines != 0;
    for (const RegFileChange& entry : content.changes) {
        if (entry.hive == hive) {
            ApplyChange(root, entry.change);
        } else {
            damaged = true;
        }
    }
    return root;
}

class Store {
public:
    Store() {
        m_hives[0].id = RegHiveId::kLocalMachine;
        m_hives[0].file_name = "machine.reg";
        m_hives[1].id = RegHiveId::kCurrentUser;
        m_hives[1].file_name = "user.reg";
    }

    std::mutex& Mutex() { return m_mutex; }

    // Finds the hive and key path a handle stands for and brings the hive up to date.
    LONG Resolve(HKEY key, Hive*& hive, RegKeyPath& path) {
        auto raw = reinterpret_cast<uintptr_t>(key);
        int index = -1;
        if (key == HKEY_LOCAL_MACHINE) {
            index = 0;
            path.clear();
        } else if (key == HKEY_CURRENT_USER) {
            index = 1;
            path.clear();
        } else {
            auto found = m_handles.find(raw);
            if (found == m_handles.end()) return ERROR_INVALID_HANDLE;
            index = found->second.hive;
            path = found->second.path;
        }
        hive = &m_hives[index];
        Refresh(*hive);
        return ERROR_SUCCESS;
    }

    HKEY NewHandle(Hive& hive, const RegKeyPath& path) {
        uintptr_t raw = m_next_handle;
        m_next_handle += 4;
        m_handles[raw] = OpenKey{HiveIndex(hive), path};
        ++hive.open_handles;
        return reinterpret_cast<HKEY>(raw);
    }

    LONG CloseHandle(HKEY key) {
        if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
        auto found = m_handles.find(reinterpret_cast<uintptr_t>(key));
        if (found == m_handles.end()) return ERROR_INVALID_HANDLE;
        Hive& hive = m_hives[found->second.hive];
        m_handles.erase(found);
        if (--hive.open_handles == 0) Save(hive);  // a failed save stays pending
        return ERROR_SUCCESS;
    }

    // Applies a change made by a caller, saving at once when no handle keeps it pending.
    void Change(Hive& hive, RegChange change) {
        ApplyChange(hive.tree, change);
        hive.journal.push_back(std::move(change));
        if (hive.open_handles == 0) Save(hive);
    }

    bool Save(Hive& hive);

    bool SaveAll() {
        bool ok = true;
        for (Hive& hive : m_hives) {
            if (hive.loaded && !hive.journal.empty()) ok = Save(hive) && ok;
        }
        return ok;
    }

    void Reset() {
        for (Hive& hive : m_hives) {
            hive.loaded = false;
            hive.tree = RegKeyNode();
            hive.journal.clear();
            hive.open_handles = 0;
            hive.stamp = FileStamp();
        }
        m_handles.clear();  // handle numbers keep growing, so stale handles stay invalid
    }

    Hive& HiveById(RegHiveId id) {
        Hive& hive = m_hives[id == RegHiveId::kLocalMachine ? 0 : 1];
        Refresh(hive);
        return hive;
    }

private:
    int HiveIndex(const Hive& hive) const { return &hive == &m_hives[0] ? 0 : 1; }

    void Refresh(Hive& hive) {
        if (!hive.loaded) {
            hive.file = RegistryFolder() / hive.file_name;
            hive.loaded = true;
        } else if (StampOf(hive.file) == hive.stamp) {
            return;
        }
        Reload(hive);
    }

    void Reload(Hive& hive) {
        std::string bytes;
        hive.stamp = StampOf(hive.file);
        if (!ReadWholeFile(hive.file, bytes)) bytes.clear();
        bool damaged = false;
        hive.tree = TreeFromFile(ParseRegFile(bytes), hive.id, damaged);
        for (const RegChange& change : hive.journal)
            ApplyChange(hive.tree, change);
    }

    std::mutex m_mutex;
    Hive m_hives[kHiveCount];
    std::unordered_map<uintptr_t, OpenKey> m_handles;
    uintptr_t m_next_handle = 0x1000;
};

bool Store::Save(Hive& hive) {
    if (!hive.loaded || hive.journal.empty()) return true;
    std::error_code error;
    fs::create_directories(hive.file.parent_path(), error);
    HiveLock lock(hive.file);
    if (!lock.Held()) return false;
    std::string bytes;
    if (!ReadWholeFile(hive.file, bytes)) return false;
    FileStamp read_stamp = StampOf(hive.file);
    bool damaged = false;
    RegKeyNode tree = TreeFromFile(ParseRegFile(bytes), hive.id, damaged);
    if (damaged && !KeepDamagedCopy(hive.file, bytes)) return false;
    for (const RegChange& change : hive.journal)
        ApplyChange(tree, change);
    std::string text = FormatRegFile(tree, hive.id);
    if (text != bytes || !read_stamp.exists) {
        if (!ReplaceFile(hive.file, text)) return false;
        read_stamp = StampOf(hive.file);
    }
    hive.tree = std::move(tree);
    hive.journal.clear();
    hive.stamp = read_stamp;
    return true;
}

Store& TheStore() {
    // Never destroyed: the exit handler below still needs it after static destructors ran.
    static Store* store = [] {
        auto* created = new Store();
        std::atexit([] {
            Store& exiting = TheStore();
            std::lock_guard guard(exiting.Mutex());
            exiting.SaveAll();
        });
        return created;
    }();
    return *store;
}

// Joins a handle's key path and a caller's relative path; false when the text is no key path.
bool JoinPath(const RegKeyPath& base, const char* sub_key, RegKeyPath& joined) {
    joined = base;
    if (sub_key == nullptr) return true;
    std::optional<RegKeyPath> parts = SplitKeyPath(sub_key);
    if (!parts || joined.size() + parts->size() > kRegMaxKeyDepth) return false;
    joined.insert(joined.end(), parts->begin(), parts->end());
    return true;
}

// The path with every name spelled as stored, for a handle to an existing key.
RegKeyPath StoredSpelling(const RegKeyNode& root, const RegKeyPath& path) {
    RegKeyPath spelled;
    const RegKeyNode* node = &root;
    for (const std::string& part : path) {
        node = node != nullptr ? node->FindChild(part) : nullptr;
        spelled.push_back(node != nullptr ? node->name : part);
    }
    return spelled;
}

// Copies `bytes` plus a NUL into a caller's buffer of `*size` bytes (the Windows contract for
// names: on success `*size` becomes the length without the NUL).
LONG CopyName(std::string_view text, char* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    if (text.size() + 1 > *size) {
        *size = DWORD(text.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    *size = DWORD(text.size());
    return ERROR_SUCCESS;
}

// Copies a value's data as queries report it: REG_SZ texts gain their terminator.
LONG CopyData(const RegValue& value, DWORD* type, BYTE* data, DWORD* data_size) {
    if (type != nullptr) *type = value.type;
    size_t needed = value.data.size() + (value.type == REG_SZ ? 1 : 0);
    if (data == nullptr) {
        if (data_size != nullptr) *data_size = DWORD(needed);
        return ERROR_SUCCESS;
    }
    if (data_size == nullptr) return ERROR_INVALID_PARAMETER;
    if (needed > *data_size) {
        *data_size = DWORD(needed);
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), value.data.size());
    if (value.type == REG_SZ) data[value.data.size()] = 0;
    *data_size = DWORD(needed);
    return ERROR_SUCCESS;
}

// A handle's own key in its hive's current tree, or an error code.
LONG KeyOf(HKEY key, Hive*& hive, RegKeyPath& path, RegKeyNode*& node) {
    LONG status = TheStore().Resolve(key, hive, path);
    if (status != ERROR_SUCCESS) return status;
    node = FindKey(hive->tree, path);
    return node != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// A handle's key, found with the store locked; the lock lasts as long as this object, so
// one registry call sees and changes the store as a whole.
struct LockedKey {
    explicit LockedKey(HKEY key) : store(TheStore()), guard(store.Mutex()) {
        status = KeyOf(key, hive, path, node);
    }
    Store& store;
    std::lock_guard<std::mutex> guard;
    Hive* hive = nullptr;
    RegKeyPath path;  // the key's own path in its hive
    RegKeyNode* node = nullptr;
    LONG status = ERROR_SUCCESS;
};

LONG OpenOrCreate(HKEY key, const char* sub_key, HKEY* result, bool create) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    RegKeyPath path;
    if (!JoinPath(locked.path, sub_key, path)) return ERROR_INVALID_PARAMETER;
    if (FindKey(locked.hive->tree, path) == nullptr) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        RegChange change;
        change.kind = RegChange::Kind::kCreateKey;
        change.key = path;
        // Counted as open before the change so the creation waits for the handle's close.
        *result = locked.store.NewHandle(*locked.hive, StoredSpelling(locked.hive->tree, path));
        locked.store.Change(*locked.hive, std::move(change));
        return ERROR_SUCCESS;
    }
    *result = locked.store.NewHandle(*locked.hive, StoredSpelling(locked.hive->tree, path));
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, const char* sub_key, HKEY* result) {
    return OpenOrCreate(key, sub_key, result, false);
}

LONG RegCreateKeyA(HKEY key, const char* sub_key, HKEY* result) {
    return OpenOrCreate(key, sub_key, result, true);
}

LONG RegCloseKey(HKEY key) {
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    return store.CloseHandle(key);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* /*reserved*/,
                   char* class_name, DWORD* class_size, FILETIME* last_write) {
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    if (index >= locked.node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = std::next(locked.node->subkeys.begin(), std::ptrdiff_t(index));
    LONG status = CopyName(it->second->name, name, name_size);
    if (status != ERROR_SUCCESS) return status;
    if (class_name != nullptr && class_size != nullptr && *class_size > 0) *class_name = '\0';
    if (class_size != nullptr) *class_size = 0;
    if (last_write != nullptr) *last_write = FILETIME{};
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* /*reserved*/,
                   DWORD* type, BYTE* data, DWORD* data_size) {
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    if (index >= locked.node->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& value = locked.node->values[index];
    if (LONG status = CopyName(value.name, name, name_size); status != ERROR_SUCCESS) {
        return status;
    }
    return CopyData(value, type, data, data_size);
}

LONG RegQueryValueA(HKEY key, const char* sub_key, char* value, LONG* value_size) {
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    RegKeyPath path;
    if (!JoinPath(locked.path, sub_key, path)) return ERROR_INVALID_PARAMETER;
    const RegKeyNode* target = FindKey(locked.hive->tree, path);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    const RegValue* found = target->FindValue("");
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    if (found->type != REG_SZ) return ERROR_INVALID_DATA;
    if (value_size == nullptr) return value == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    DWORD size = *value_size > 0 ? DWORD(*value_size) : 0;
    LONG status = CopyData(*found, nullptr, reinterpret_cast<BYTE*>(value), &size);
    *value_size = LONG(size);
    return status;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* data_size) {
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    const RegValue* found = locked.node->FindValue(name != nullptr ? name : "");
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    return CopyData(*found, type, data, data_size);
}

LONG RegSetValueA(HKEY key, const char* sub_key, DWORD type, const char* data, DWORD /*size*/) {
    if (type != REG_SZ || data == nullptr) return ERROR_INVALID_PARAMETER;
    size_t length = std::strlen(data);
    if (length > kRegMaxValueBytes) return ERROR_INVALID_PARAMETER;
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    RegChange change;
    if (!JoinPath(locked.path, sub_key, change.key)) return ERROR_INVALID_PARAMETER;
    change.kind = RegChange::Kind::kSetValue;
    change.type = REG_SZ;
    change.data.assign(data, length);
    locked.store.Change(*locked.hive, std::move(change));
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    if (size > kRegMaxValueBytes) return ERROR_INVALID_PARAMETER;
    std::string_view value_name = name != nullptr ? name : "";
    if (!IsValidValueName(value_name)) return ERROR_INVALID_PARAMETER;
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    RegChange change;
    change.kind = RegChange::Kind::kSetValue;
    change.key = std::move(locked.path);
    change.value_name = std::string(value_name);
    change.type = type;
    std::string_view bytes(reinterpret_cast<const char*>(data), data != nullptr ? size : 0);
    // A text is kept up to its first NUL, so a 260-byte buffer stores just its text.
    change.data = type == REG_SZ ? StringDataOf(bytes) : std::string(bytes);
    locked.store.Change(*locked.hive, std::move(change));
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY key, const char* sub_key) {
    if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    RegChange change;
    if (!JoinPath(locked.path, sub_key, change.key)) return ERROR_INVALID_PARAMETER;
    if (change.key.empty()) return ERROR_ACCESS_DENIED;  // a hive root stays
    RegKeyNode* target = FindKey(locked.hive->tree, change.key);
    if (target == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    change.kind = RegChange::Kind::kDeleteKey;
    locked.store.Change(*locked.hive, std::move(change));
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const char* name) {
    LockedKey locked(key);
    if (locked.status != ERROR_SUCCESS) return locked.status;
    std::string_view value_name = name != nullptr ? name : "";
    if (locked.node->FindValue(value_name) == nullptr) return ERROR_FILE_NOT_FOUND;
    RegChange change;
    change.kind = RegChange::Kind::kDeleteValue;
    change.key = std::move(locked.path);
    change.value_name = std::string(value_name);
    locked.store.Change(*locked.hive, std::move(change));
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    Hive* hive = nullptr;
    RegKeyPath path;
    if (LONG status = store.Resolve(key, hive, path); status != ERROR_SUCCESS) return status;
    return store.Save(*hive) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

void RegistryResetStore() {
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    store.Reset();
}

bool RegistryFlushAll() {
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    return store.SaveAll();
}

std::optional<std::string> RegExportKey(std::string_view key_name) {
    std::optional<RegKeyPath> path = SplitKeyPath(key_name);
    if (!path || path->empty()) return std::nullopt;
    RegHiveId id;
    if (EqualsNoCase(path->front(), HiveRootName(RegHiveId::kLocalMachine))) {
        id = RegHiveId::kLocalMachine;
    } else if (EqualsNoCase(path->front(), HiveRootName(RegHiveId::kCurrentUser))) {
        id = RegHiveId::kCurrentUser;
    } else {
        return std::nullopt;
    }
    path->erase(path->begin());
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    Hive& hive = store.HiveById(id);
    const RegKeyNode* node = FindKey(hive.tree, *path);
    if (node == nullptr) return std::nullopt;
    std::string full_name(HiveRootName(id));
    for (const std::string& part : StoredSpelling(hive.tree, *path))
        full_name += "\\" + part;
    return FormatRegKey(*node, full_name);
}

RegImportResult RegImportFile(std::string_view file_bytes) {
    RegFileContent content = ParseRegFile(file_bytes);
    RegImportResult result;
    result.is_registry_file = content.has_header;
    result.damaged_lines = content.damaged_lines;
    result.other_hive_lines = content.other_hive_lines;
    if (!content.has_header) return result;
    Store& store = TheStore();
    std::lock_guard guard(store.Mutex());
    for (RegFileChange& entry : content.changes) {
        Hive& hive = store.HiveById(entry.hive);
        ApplyChange(hive.tree, entry.change);
        hive.journal.push_back(std::move(entry.change));
        ++result.changes;
    }
    result.saved = store.SaveAll();
    return result;
}

}  // namespace scopa
