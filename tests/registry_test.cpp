// The registry store: the Win32-shaped calls, the .reg file reader and writer, persistence
// across processes, damaged files, and the scopa reg tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "support/environment_variable.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace scopa::test {
namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
protected:
    fs::path MachineFile() const { return m_sandbox.registry_dir() / "machine.reg"; }
    fs::path UserFile() const { return m_sandbox.registry_dir() / "user.reg"; }

    SandboxedEnvironment m_sandbox;
};

HKEY Create(HKEY root, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(root, path, &key), ERROR_SUCCESS) << path;
    return key;
}

void SetText(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             DWORD(text.size() + 1)),
              ERROR_SUCCESS);
}

void SetDword(HKEY key, const char* name, DWORD value) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              ERROR_SUCCESS);
}

std::string QueryText(HKEY key, const char* name) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    return std::string(buffer);
}

std::vector<std::string> SubKeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[300];
        DWORD size = sizeof name;
        LONG status = RegEnumKeyExA(key, index, name, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) break;
        EXPECT_EQ(size, std::strlen(name));
        names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[300];
        DWORD size = sizeof name;
        LONG status = RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(status, ERROR_SUCCESS);
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name);
    }
    return names;
}

// A whole hive file written by the store for a known set of keys and values.
constexpr const char* kGoldenMachineFile =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\Alpha]\r\n"
    "@=\"C:\\\\Pictures \\\"best\\\"\"\r\n"
    "\"Width\"=dword:000000c0\r\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28\r\n"
    "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
    "\"Odd\"=hex(4):01,02\r\n"
    "\"Multi\"=hex(7):61,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\beta]\r\n"
    "\"Empty\"=\"\"\r\n"
    "\r\n";

void WriteGoldenValues() {
    HKEY alpha = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOR\\Alpha");
    HKEY beta = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOR\\beta");
    SetDword(alpha, "Width", 192);
    std::string blob;
    for (int i = 0; i <= 0x28; ++i)
        blob += char(i);
    ASSERT_EQ(RegSetValueExA(alpha, "Blob", 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>(blob.data()), DWORD(blob.size())),
              ERROR_SUCCESS);
    SetText(alpha, "Lines", "a\r\nb");
    ASSERT_EQ(RegSetValueExA(alpha, "Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\2"), 2),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(alpha, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0"), 3),
        ERROR_SUCCESS);
    // The default value leads even when set last.
    ASSERT_EQ(RegSetValueA(alpha, nullptr, REG_SZ, "C:\\Pictures \"best\"", 0), ERROR_SUCCESS);
    SetText(beta, "Empty", "");
    EXPECT_EQ(RegCloseKey(alpha), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(beta), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WritesHiveAsRegedit4FileAndReadsItBackByteExact) {
    WriteGoldenValues();
    ASSERT_EQ(ReadFileBytes(MachineFile()), kGoldenMachineFile);
    EXPECT_FALSE(fs::exists(UserFile()));

    // A fresh process view reads every value back as it was written.
    RegistryResetStore();
    HKEY alpha = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOR\\Alpha", &alpha), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(alpha, ""), "C:\\Pictures \"best\"");
    EXPECT_EQ(QueryText(alpha, "Lines"), "a\r\nb");
    DWORD width = 0;
    DWORD size = sizeof width;
    DWORD type = 0;
    ASSERT_EQ(
        RegQueryValueExA(alpha, "Width", nullptr, &type, reinterpret_cast<BYTE*>(&width), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(width, 192u);
    BYTE odd[8] = {};
    size = sizeof odd;
    ASSERT_EQ(RegQueryValueExA(alpha, "Odd", nullptr, &type, odd, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(ValueNames(alpha),
              (std::vector<std::string>{"", "Width", "Blob", "Lines", "Odd", "Multi"}));

    // Setting a value to what it holds writes the same bytes again.
    SetDword(alpha, "Width", 192);
    EXPECT_EQ(RegCloseKey(alpha), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(MachineFile()), kGoldenMachineFile);

    // Parsing and formatting the file is a fixed point.
    RegFileContent content = ParseRegFile(kGoldenMachineFile);
    EXPECT_TRUE(content.has_header);
    EXPECT_FALSE(content.IsDamaged());
    RegKeyNode root;
    for (const RegFileChange& entry : content.changes)
        ApplyChange(root, entry.change);
    EXPECT_EQ(FormatRegFile(root, RegHiveId::kLocalMachine), kGoldenMachineFile);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirFirstCase) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Mixed");
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\MIXED", &again), ERROR_SUCCESS);
    SetText(key, "Name", "one");
    SetText(again, "NAME", "two");
    EXPECT_EQ(QueryText(key, "name"), "two");
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"Name"});
    HKEY created = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\MIXED\\Sub");
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software", &software), ERROR_SUCCESS);
    EXPECT_EQ(SubKeyNames(software), std::vector<std::string>{"Mixed"});
    for (HKEY handle : {key, again, created, software})
        RegCloseKey(handle);
    EXPECT_NE(ReadFileBytes(MachineFile()).find("[HKEY_LOCAL_MACHINE\\Software\\Mixed\\Sub]"),
              std::string::npos);
}

TEST_F(RegistryTest, SubKeysEnumerateSortedAndValuesInCreationOrder) {
    HKEY key = Create(HKEY_CURRENT_USER, "Order");
    for (const char* name : {"b", "A", "c", "B2", "a1"})
        RegCloseKey(Create(key, name));
    EXPECT_EQ(SubKeyNames(key), (std::vector<std::string>{"A", "a1", "b", "B2", "c"}));
    for (const char* name : {"zeta", "Alpha", "mid"})
        SetText(key, name, name);
    ASSERT_EQ(RegSetValueA(key, "", REG_SZ, "default", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key, "ALPHA"), ERROR_SUCCESS);
    SetText(key, "alpha", "back");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"", "zeta", "mid", "alpha"}));
    RegCloseKey(key);
}

TEST_F(RegistryTest, BufferSizesFollowTheWindowsContracts) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Sizes");
    // Each call gets a buffer of `capacity` bytes (none for 0) and gives the status and the
    // size it reports back.
    using Answer = std::pair<LONG, DWORD>;
    char buffer[16] = {};
    auto query = [&](const char* name, DWORD capacity) {
        DWORD size = capacity;
        BYTE* data = capacity > 0 ? reinterpret_cast<BYTE*>(buffer) : nullptr;
        return Answer(RegQueryValueExA(key, name, nullptr, nullptr, data, &size), size);
    };
    auto value_name = [&](DWORD index, DWORD capacity) {
        DWORD size = capacity;
        LONG status = RegEnumValueA(key, index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
        return Answer(status, size);
    };
    auto key_name = [&](DWORD index, DWORD capacity) {
        DWORD size = capacity;
        return Answer(RegEnumKeyExA(key, index, buffer, &size), size);
    };
    // A 260-byte write of a short text stores just the text.
    char padded[260] = "Generic";
    ASSERT_EQ(RegSetValueExA(key, "App", 0, REG_SZ, reinterpret_cast<BYTE*>(padded), 260),
              ERROR_SUCCESS);
    EXPECT_EQ(query("App", 0), Answer(ERROR_SUCCESS, 8));
    EXPECT_EQ(query("App", 4), Answer(ERROR_MORE_DATA, 8));
    EXPECT_EQ(query("App", 8), Answer(ERROR_SUCCESS, 8));
    EXPECT_STREQ(buffer, "Generic");
    EXPECT_EQ(query("Missing", 0).first, ERROR_FILE_NOT_FOUND);
    // A text without a NUL in the given length is stored as given.
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcdef"), 3),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, "Raw"), "abc");

    // Names: the buffer must hold the NUL too.
    EXPECT_EQ(value_name(0, 3), Answer(ERROR_MORE_DATA, 4));
    EXPECT_EQ(value_name(0, 4), Answer(ERROR_SUCCESS, 3));
    EXPECT_EQ(value_name(2, 4).first, ERROR_NO_MORE_ITEMS);
    RegCloseKey(Create(key, "LongerName"));
    EXPECT_EQ(key_name(0, 4), Answer(ERROR_MORE_DATA, 11));
    EXPECT_EQ(key_name(1, 11).first, ERROR_NO_MORE_ITEMS);

    // Default values through RegQueryValueA: missing is an error, not an empty text.
    char text[260];
    LONG text_size = sizeof text;
    EXPECT_EQ(RegQueryValueA(key, "LongerName", text, &text_size), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegSetValueA(key, "LongerName", REG_SZ, "path", 0), ERROR_SUCCESS);
    text_size = sizeof text;
    EXPECT_EQ(RegQueryValueA(key, "LongerName", text, &text_size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "path");
    EXPECT_EQ(text_size, 5);
    text_size = 2;
    EXPECT_EQ(RegQueryValueA(key, "LongerName", text, &text_size), ERROR_MORE_DATA);
    EXPECT_EQ(text_size, 5);
    EXPECT_EQ(RegQueryValueA(key, "NoSuchKey", text, &text_size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, HandlesAndDeletionFollowTheWindowsContracts) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, "Tree");
    HKEY child = Create(parent, "Child");
    RegCloseKey(Create(child, "Leaf"));
    EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_ACCESS_DENIED);  // it has a sub-key
    EXPECT_EQ(RegDeleteKeyA(parent, "Child\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child\\Leaf"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_SUCCESS);
    // The handle to the deleted key no longer reaches anything.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(child, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueA(child, nullptr, REG_SZ, "x", 0), ERROR_INVALID_HANDLE);
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyA(parent, "Child", &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegDeleteValueA(parent, "none"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);

    // Bounds: names, depth and sizes beyond the store's limits are refused.
    HKEY refused = nullptr;
    EXPECT_EQ(RegCreateKeyA(parent, std::string(256, 'k').c_str(), &refused),
              ERROR_INVALID_PARAMETER);
    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "d\\";
    EXPECT_EQ(RegCreateKeyA(parent, deep.c_str(), &refused), ERROR_INVALID_PARAMETER);
    std::string huge((size_t{1} << 20) + 1, 'x');
    EXPECT_EQ(RegSetValueExA(parent, "huge", 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>(huge.data()), DWORD(huge.size())),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegSetValueExA(parent, "two\nlines", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
        ERROR_INVALID_PARAMETER);
    RegCloseKey(parent);
}

TEST_F(RegistryTest, SavesWhenTheLastHandleClosesOrOnFlush) {
    HKEY outer = Create(HKEY_LOCAL_MACHINE, "Pending");
    HKEY inner = Create(outer, "Inner");
    SetText(inner, "v", "1");
    RegCloseKey(inner);
    EXPECT_FALSE(fs::exists(MachineFile()));  // `outer` still open
    EXPECT_EQ(RegFlushKey(outer), ERROR_SUCCESS);
    EXPECT_NE(ReadFileBytes(MachineFile()).find("\"v\"=\"1\""), std::string::npos);
    SetText(outer, "w", "2");
    EXPECT_EQ(ReadFileBytes(MachineFile()).find("\"w\""), std::string::npos);
    RegCloseKey(outer);
    EXPECT_NE(ReadFileBytes(MachineFile()).find("\"w\"=\"2\""), std::string::npos);
    // Through a predefined key, with no handle open, the change is written at once.
    ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Direct", REG_SZ, "now", 0), ERROR_SUCCESS);
    EXPECT_NE(ReadFileBytes(UserFile()).find("[HKEY_CURRENT_USER\\Direct]\r\n@=\"now\""),
              std::string::npos);
    // Pending changes reach the file with RegistryFlushAll as at process exit.
    HKEY held = Create(HKEY_CURRENT_USER, "Held");
    SetText(held, "x", "y");
    EXPECT_TRUE(RegistryFlushAll());
    EXPECT_NE(ReadFileBytes(UserFile()).find("[HKEY_CURRENT_USER\\Held]"), std::string::npos);
    RegCloseKey(held);
}

TEST_F(RegistryTest, AFailedSaveKeepsTheChangesPending) {
    // A plain file where the folder should be makes every save fail.
    WriteFileBytes(m_sandbox.registry_dir(), "not a folder");
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Later");
    SetText(key, "v", "kept");
    EXPECT_EQ(RegFlushKey(key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, "Later", REG_SZ, "also", 0), ERROR_SUCCESS);
    EXPECT_FALSE(RegistryFlushAll());
    fs::remove(m_sandbox.registry_dir());
    EXPECT_TRUE(RegistryFlushAll());
    EXPECT_NE(ReadFileBytes(MachineFile())
                  .find("[HKEY_LOCAL_MACHINE\\Later]\r\n@=\"also\"\r\n"
                        "\"v\"=\"kept\""),
              std::string::npos);
}

TEST_F(RegistryTest, ChangesOfAnotherProcessAreSeenAndKept) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Shared");
    SetText(key, "mine", "pending");
    // Another process replaces the file meanwhile.
    WriteFileBytes(MachineFile(),
                   "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Shared]\r\n\"theirs\"=\"written\"\r\n");
    EXPECT_EQ(QueryText(key, "theirs"), "written");
    EXPECT_EQ(QueryText(key, "mine"), "pending");
    RegCloseKey(key);
    std::string file = ReadFileBytes(MachineFile());
    EXPECT_NE(file.find("\"theirs\"=\"written\""), std::string::npos);
    EXPECT_NE(file.find("\"mine\"=\"pending\""), std::string::npos);
}

// Two processes write their own values in many rounds at once; every value survives.
TEST_F(RegistryTest, TwoProcessesSavingConcurrentlyLoseNothing) {
    constexpr int kRounds = 60;
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            RegistryResetStore();
            bool ok = true;
            for (int round = 0; round < kRounds; ++round) {
                HKEY key = nullptr;
                ok = ok && RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", &key) == 0;
                std::string name = "P" + std::to_string(process) + "_" + std::to_string(round);
                DWORD value = DWORD(round);
                ok = ok && RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&value), 4) == 0;
                ok = ok && RegCloseKey(key) == 0;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryResetStore();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", &key), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key).size(), size_t(2 * kRounds));
    for (int process = 0; process < 2; ++process) {
        for (int round = 0; round < kRounds; ++round) {
            std::string name = "P" + std::to_string(process) + "_" + std::to_string(round);
            DWORD value = 0;
            DWORD size = 4;
            EXPECT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&value), &size),
                      ERROR_SUCCESS)
                << name;
            EXPECT_EQ(value, DWORD(round));
        }
    }
    RegCloseKey(key);
}

constexpr const char* kDamagedFile =
    "REGEDIT4\r\n"
    "\r\n"
    "\"before\"=\"no key yet\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Good]\r\n"
    "\"kept\"=\"yes\"\r\n"
    "\"truncated\"=\"no end\r\n"
    "garbage line !!\r\n"
    "\"type\"=qword:0000000000000001\r\n"
    "\"badhex\"=hex:01,zz\r\n"
    "\"dw\"=dword:123456789\r\n"
    "\"number\"=dword:0000002a\r\n"
    "[HKEY_LOCAL_MACHINE\\Good\\Broken\r\n"
    "\"lost\"=\"x\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Good\\Also]\r\n"
    "@=\"fine\"\r\n";

TEST_F(RegistryTest, DamagedFileLoadsWhatIsSoundAndIsKeptBeforeBeingReplaced) {
    WriteFileBytes(MachineFile(), kDamagedFile);
    std::string overlong_name = "[HKEY_LOCAL_MACHINE\\" + std::string(300, 'n') + "]\r\n";
    WriteFileBytes(MachineFile(), kDamagedFile + overlong_name + "\"under\"=\"bad key\"\r\n");
    std::string original = ReadFileBytes(MachineFile());
    RegFileContent content = ParseRegFile(original);
    EXPECT_EQ(content.damaged_lines, 10u);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Good", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, "kept"), "yes");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"kept", "number"}));
    char text[16];
    LONG size = sizeof text;
    EXPECT_EQ(RegQueryValueA(key, "Also", text, &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "fine");
    SetText(key, "added", "new");
    RegCloseKey(key);

    fs::path copy = MachineFile();
    copy += ".damaged";
    EXPECT_EQ(ReadFileBytes(copy), original);
    std::string rewritten = ReadFileBytes(MachineFile());
    EXPECT_NE(rewritten.find("\"added\"=\"new\""), std::string::npos);
    EXPECT_NE(rewritten.find("\"number\"=dword:0000002a"), std::string::npos);
    EXPECT_FALSE(ParseRegFile(rewritten).IsDamaged());

    // The sound file saves again without another copy; a new damage gets its own copy.
    ASSERT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, "Good", REG_SZ, "again", 0), ERROR_SUCCESS);
    fs::path second = MachineFile();
    second += ".damaged.2";
    EXPECT_FALSE(fs::exists(second));
    WriteFileBytes(MachineFile(), "REGEDIT4\r\nnonsense\r\n");
    ASSERT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, "Good", REG_SZ, "third", 0), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(second), "REGEDIT4\r\nnonsense\r\n");
    EXPECT_EQ(ReadFileBytes(copy), original);
}

TEST_F(RegistryTest, KeysOfTheOtherHiveInAHiveFileCountAsDamage) {
    WriteFileBytes(UserFile(),
                   "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Stray]\r\n\"a\"=\"b\"\r\n"
                   "[HKEY_CURRENT_USER\\Own]\r\n\"c\"=\"d\"\r\n");
    ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Own", REG_SZ, "x", 0), ERROR_SUCCESS);
    fs::path copy = UserFile();
    copy += ".damaged";
    EXPECT_NE(ReadFileBytes(copy).find("Stray"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(UserFile()).find("Stray"), std::string::npos);
}

// `utf8` as a UTF-16LE file with a byte order mark.
std::string Utf16File(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16(utf8))
        out += {char(unit & 0xFF), char(unit >> 8)};
    return out;
}

TEST_F(RegistryTest, ImportsVersion5FilesInUtf16) {
    std::string file = Utf16File(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9]\r\n"
        "\"Name\"=\"d\xC3\xA9j\xC3\xA0 vu\"\r\n"
        "\"Wide\"=hex(1):41,00,e9,00,00,00\r\n"
        "\"Expand\"=hex(2):25,00,00,00\r\n"
        "\"Count\"=dword:00000007\r\n"
        "[HKEY_CLASSES_ROOT\\.txt]\r\n"
        "@=\"ignored\"\r\n");
    RegImportResult result = RegImportFile(file);
    EXPECT_TRUE(result.is_registry_file);
    EXPECT_TRUE(result.saved);
    EXPECT_EQ(result.damaged_lines, 0u);
    EXPECT_EQ(result.other_hive_lines, 1u);
    EXPECT_EQ(result.changes, 5u);

    RegistryResetStore();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "software\\CAF\xC3\xA9", &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, "Name"), "d\xC3\xA9j\xC3\xA0 vu");
    EXPECT_EQ(QueryText(key, "Wide"), "A\xC3\xA9");
    BYTE raw[8];
    DWORD size = sizeof raw;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Expand", nullptr, &type, raw, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), size), std::string("%\0\0\0", 4));
    RegCloseKey(key);
}

TEST(RegistryFileTest, ReadsEveryLineForm) {
    RegFileContent content = ParseRegFile(
        "REGEDIT4\n"
        "; a comment\n"
        "[HKEY_LOCAL_MACHINE\\A]\n"
        "\"esc\\\\aped \\\"name\\\"\"=\"x\"\n"
        "\"short\"=dword:7\n"
        "\"wrapped\"=hex:01,02,\\\n"
        "    03,\\\n"
        "  04\n"
        "\"typed\"=hex(b):ff\n"
        "\"gone\"=-\n"
        "  @ = \"spaced\"\n"
        "[-HKEY_LOCAL_MACHINE\\B]\n"
        "[HKEY_USERS\\S-1]\n"
        "\"skipped\"=\"quietly\"\n");
    EXPECT_TRUE(content.has_header);
    EXPECT_EQ(content.damaged_lines, 0u);
    EXPECT_EQ(content.other_hive_lines, 1u);
    ASSERT_EQ(content.changes.size(), 8u);
    using Kind = RegChange::Kind;
    EXPECT_EQ(content.changes[0].change.kind, Kind::kCreateKey);
    EXPECT_EQ(content.changes[1].change.value_name, "esc\\aped \"name\"");
    EXPECT_EQ(content.changes[2].change.data, std::string("\x07\0\0\0", 4));
    EXPECT_EQ(content.changes[3].change.data, "\x01\x02\x03\x04");
    EXPECT_EQ(content.changes[3].change.type, REG_BINARY);
    EXPECT_EQ(content.changes[4].change.type, 11u);
    EXPECT_EQ(content.changes[5].change.kind, Kind::kDeleteValue);
    EXPECT_EQ(content.changes[6].change.value_name, "");
    EXPECT_EQ(content.changes[6].change.data, "spaced");
    EXPECT_EQ(content.changes[7].change.kind, Kind::kDeleteKey);
    EXPECT_EQ(content.changes[7].change.key, RegKeyPath{"B"});
}

TEST(RegistryFileTest, HeaderlessAndEmptyInputs) {
    EXPECT_FALSE(ParseRegFile("").has_header);
    EXPECT_FALSE(ParseRegFile("").IsDamaged());
    RegFileContent no_header = ParseRegFile("[HKEY_CURRENT_USER\\X]\r\n\"a\"=\"b\"\r\n");
    EXPECT_FALSE(no_header.has_header);
    EXPECT_EQ(no_header.damaged_lines, 1u);
    EXPECT_EQ(no_header.changes.size(), 2u);
    EXPECT_EQ(ParseRegFile("REGEDIT4\r\n[-HKEY_CURRENT_USER]\r\n").damaged_lines, 1u);
    // A hex list cut off after its continuation mark is incomplete, so damaged.
    RegFileContent cut = ParseRegFile("REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"a\"=hex:01,\\");
    EXPECT_EQ(cut.changes.size(), 1u);
    EXPECT_EQ(cut.damaged_lines, 1u);
}

// The environment names the folder each time a hive is first used.
TEST(RegistryFolderTest, FallsBackToXdgConfigHome) {
    ScopedTempDir config;
    SandboxedEnvironment sandbox;
    {
        ScopedEnvironmentVariable own_folder("SCOPA_REGISTRY_DIR", nullptr);
        ScopedEnvironmentVariable xdg("XDG_CONFIG_HOME", config.path().c_str());
        RegistryResetStore();
        ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Where", REG_SZ, "here", 0), ERROR_SUCCESS);
        RegistryResetStore();
    }
    EXPECT_NE(ReadFileBytes(config.path() / "scopa" / "user.reg").find("@=\"here\""),
              std::string::npos);
}

// Numbers, texts read as numbers and absent keys are checked through the population's
// registry settings; here the text that outgrows a first buffer.
TEST_F(RegistryTest, RegistryKeyReadsAndWritesWholeValues) {
    RegistryKey key = RegistryKey::Create(HKEY_LOCAL_MACHINE, "Convenient");
    ASSERT_TRUE(key.IsOpen());
    std::string long_text(1000, 'z');
    EXPECT_TRUE(key.WriteString("Text", long_text));
    EXPECT_EQ(key.ReadString("Text"), long_text);
    EXPECT_EQ(key.ReadString("Missing"), std::nullopt);
    EXPECT_TRUE(RegistryKey::Open(HKEY_LOCAL_MACHINE, "convenient").IsOpen());
}

TEST_F(RegistryTest, ToolExportsAndImportsRegFiles) {
    ScopedTempDir files;
    fs::path input = files / "seed.reg";
    WriteFileBytes(input,
                   "REGEDIT4\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar\\HashIncPrefs]\r\n"
                   "\"PHOTOS_1\"=\"E:\"\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar\\ShortCuts]\r\n"
                   "\"1\"=\"c:\\\\links\\\\photos.lnk , Holiday CD\"\r\n");
    ToolResult imported = RunTool({"reg", "import", input.string()});
    EXPECT_EQ(imported.exit_status, 0) << imported.err;
    EXPECT_EQ(imported.out, "imported 4 changes\n");
    // A pipe named like a registry file is refused at once, not waited on.
    ASSERT_EQ(mkfifo((files / "pipe.reg").c_str(), 0600), 0);
    EXPECT_EQ(RunTool({"reg", "import", (files / "pipe.reg").string()}).exit_status, 1);

    ToolResult exported = RunTool({"reg", "export", "hkey_local_machine\\software\\qor\\SYSTEM"});
    EXPECT_EQ(exported.exit_status, 0) << exported.err;
    EXPECT_EQ(exported.out,
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar\\HashIncPrefs]\r\n"
              "\"PHOTOS_1\"=\"E:\"\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOR\\System\\Scopar\\ShortCuts]\r\n"
              "\"1\"=\"c:\\\\links\\\\photos.lnk , Holiday CD\"\r\n\r\n");
    // This process sees what the tool wrote.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QOR\\System\\Scopar\\HashIncPrefs", &key),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, "photos_1"), "E:");
    RegCloseKey(key);

    // An export imports back to the same store content.
    fs::path round = files / "round.reg";
    WriteFileBytes(round, exported.out);
    std::string before = ReadFileBytes(MachineFile());
    EXPECT_EQ(RunTool({"reg", "import", round.string()}).exit_status, 0);
    EXPECT_EQ(ReadFileBytes(MachineFile()), before);
}

TEST_F(RegistryTest, ToolGivesOneLineErrors) {
    ToolResult unknown = RunTool({"reg", "export", "HKEY_LOCAL_MACHINE\\No\\Such"});
    EXPECT_EQ(unknown.exit_status, 1);
    EXPECT_EQ(unknown.err, "scopa reg: no such key: HKEY_LOCAL_MACHINE\\No\\Such\n");
    EXPECT_TRUE(unknown.out.empty());
    EXPECT_EQ(RunTool({"reg", "export", "HKEY_CLASSES_ROOT"}).exit_status, 1);

    ToolResult unreadable = RunTool({"reg", "import", "/nonexistent/file.reg"});
    EXPECT_EQ(unreadable.exit_status, 1);
    EXPECT_EQ(unreadable.err, "scopa reg: cannot read /nonexistent/file.reg\n");

    ScopedTempDir files;
    WriteFileBytes(files / "pic.bmp", "BM\x10\0\0\0garbage");
    ToolResult not_reg = RunTool({"reg", "import", (files / "pic.bmp").string()});
    EXPECT_EQ(not_reg.exit_status, 1);
    EXPECT_NE(not_reg.err.find("is not a registry file"), std::string::npos);

    ToolResult usage = RunTool({"reg", "frob"});
    EXPECT_EQ(usage.exit_status, 2);
    EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1);
}

}  // namespace
}  // namespace scopa::test
