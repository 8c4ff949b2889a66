// scopa cache: look into the files of one preview cache, named by its index path; the data file
// is the same base path with ".pvd".
#include <cstdio>
#include <filesystem>
#include <string>

#include "cache/cache_files.h"
#include "cache/cache_manager.h"
#include "command.h"
#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/regular_file.h"

namespace scopa::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kName = "cache";

fs::path DataPathFor(const fs::path& index_path) {
    fs::path data_path = index_path;
    data_path.replace_extension(".pvd");
    return data_path;
}

// Loads the index, telling an unreadable file apart from an empty cache, and leaves out the
// entries whose Index cannot be right, as the cache manager does.
bool LoadIndex(const std::string& index_path, CacheIndexContents& contents) {
    std::FILE* file = OpenRegularFileStream(index_path);
    if (file == nullptr) return false;
    std::fclose(file);
    contents = LoadCacheIndex(index_path);
    std::error_code error;
    auto data_bytes = fs::file_size(DataPathFor(index_path), error);
    // Slot records belong to the dynamic cache, whose slots stop at its capacity.
    DropEntriesOutsideData(contents, error ? -1 : static_cast<int64_t>(data_bytes),
                           contents.compressed ? 0 : kDynamicCacheCapacity);
    return true;
}

void ReportProblem(const CacheIndexContents& contents) {
    if (!contents.problem.empty()) std::printf("bad index: %s\n", contents.problem.c_str());
}

const char* StateName(EntryState state) {
    switch (state) {
        case EntryState::kValid:
            return "valid";
        case EntryState::kPending:
            return "pending";
        default:
            return "empty";
    }
}

int RunList(const std::string& index_path) {
    CacheIndexContents contents;
    if (!LoadIndex(index_path, contents)) return Fail(kName, "cannot read '" + index_path + "'");
    std::printf("%s records, %zu folders, %lld entries\n",
                contents.compressed ? "compressed" : "slot", contents.folders.size(),
                static_cast<long long>(contents.entry_total));
    for (const CacheFolderRecord& folder : contents.folders) {
        std::printf("%s  [%s]\n", folder.folder_path.c_str(), folder.volume_label.c_str());
        for (const CacheEntryRecord& entry : folder.entries) {
            std::printf("  %-32s index %-10d seq %-6d stamp %-11d %s\n", entry.name.c_str(),
                        entry.index, entry.seq_id, entry.stamp, StateName(entry.state));
        }
    }
    ReportProblem(contents);
    return contents.problem.empty() ? kExitOk : kExitFailure;
}

const CacheEntryRecord* FindEntry(const CacheIndexContents& contents, const std::string& folder,
                                  const std::string& name) {
    for (const CacheFolderRecord& candidate : contents.folders) {
        if (candidate.folder_path != folder) continue;
        for (const CacheEntryRecord& entry : candidate.entries) {
            if (entry.name == name) return &entry;
        }
    }
    return nullptr;
}

// Writes the thumbnail's width x height corner as a PNG in the screen palette's colours.
bool WriteThumbnailPng(const std::string& path, const CacheThumbnail& thumbnail) {
    oDIB bitmap = ThumbnailToDib(thumbnail.pixels.data(), vSIZE{thumbnail.width, thumbnail.height});
    return !bitmap.IsEmpty() && WritePicture(path, "PNG", &bitmap, nullptr) == 0;
}

void PutI32(std::FILE* out, int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        std::fputc(static_cast<int>((bits >> shift) & 0xFF), out);
}

int RunGet(const Arguments& arguments) {
    const std::string& index_path = arguments.positional[1];
    const std::string& folder = arguments.positional[2];
    const std::string& name = arguments.positional[3];
    auto png_path = arguments.Value("-o");
    if (png_path.has_value() == arguments.Has("--raw")) {
        return Fail(kName, "give either -o FILE or --raw", kExitUsage);
    }
    CacheIndexContents contents;
    if (!LoadIndex(index_path, contents)) return Fail(kName, "cannot read '" + index_path + "'");
    const CacheEntryRecord* entry = FindEntry(contents, folder, name);
    if (entry == nullptr) return Fail(kName, "no entry " + name + " in folder " + folder);
    CacheThumbnail thumbnail;
    int32_t seq_id = entry->seq_id;
    if (!ReadCacheRecord(DataPathFor(index_path), contents.compressed, entry->index, seq_id,
                         thumbnail)) {
        return Fail(kName, "the record of " + name + " cannot be read");
    }
    if (png_path) {
        if (thumbnail.width == 0 || thumbnail.height == 0) {
            return Fail(kName, "the thumbnail of " + name + " is empty");
        }
        if (!WriteThumbnailPng(*png_path, thumbnail))
            return Fail(kName, "cannot write " + *png_path);
        return kExitOk;
    }
    PutI32(stdout, seq_id);
    PutI32(stdout, thumbnail.width);
    PutI32(stdout, thumbnail.height);
    std::fwrite(thumbnail.pixels.data(), 1, thumbnail.pixels.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : Fail(kName, "cannot write standard output");
}

int RunVerify(const std::string& index_path) {
    CacheIndexContents contents;
    if (!LoadIndex(index_path, contents)) return Fail(kName, "cannot read '" + index_path + "'");
    fs::path data_path = DataPathFor(index_path);
    int bad = 0;
    for (const CacheFolderRecord& folder : contents.folders) {
        for (const CacheEntryRecord& entry : folder.entries) {
            CacheThumbnail thumbnail;
            int32_t seq_id = entry.seq_id;
            if (ReadCacheRecord(data_path, contents.compressed, entry.index, seq_id, thumbnail)) {
                continue;
            }
            ++bad;
            std::string reason = seq_id != entry.seq_id
                                     ? "record belongs to SeqId " + std::to_string(seq_id)
                                     : "record unreadable or damaged";
            std::printf("bad: %s\\%s: %s\n", folder.folder_path.c_str(), entry.name.c_str(),
                        reason.c_str());
        }
    }
    std::printf("%lld entries, %d bad\n", static_cast<long long>(contents.entry_total), bad);
    // A file that is not a sound index is an error even when what loaded reads well.
    ReportProblem(contents);
    return bad == 0 && contents.problem.empty() ? kExitOk : kExitFailure;
}

int RunCache(const Arguments& arguments) {
    const auto& words = arguments.positional;
    std::string action = words.empty() ? "" : words[0];
    if (action == "ls" && words.size() == 2) return RunList(words[1]);
    if (action == "verify" && words.size() == 2) return RunVerify(words[1]);
    if (action == "get" && words.size() == 4) return RunGet(arguments);
    return Fail(kName, "usage: scopa cache ls|verify INDEX, or cache get INDEX FOLDER NAME",
                kExitUsage);
}

RegisterCommand g_register{{
    .name = kName,
    .synopsis = "cache ls INDEX | cache get INDEX FOLDER NAME (-o FILE.png | --raw) | "
                "cache verify INDEX",
    .summary = "list, extract and check the thumbnails of one preview cache",
    .details = "INDEX is the cache's .pvi file; its data file is the same path with .pvd.\n"
               "ls lists the folders and their entries, most recently used first.\n"
               "get extracts one thumbnail; FOLDER is the folder path exactly as the index\n"
               "stores it. -o writes it at its stored size as a PNG in the screen palette's\n"
               "colours; --raw writes the record uncompressed to standard output: the\n"
               "12-byte head (SeqId, width, height, little-endian) and the 16,384 pixel bytes.\n"
               "verify reads every entry's record and exits 1 naming the bad ones.\n"
               "An index that is not sound (wrong tag, unknown version, cut short, entries\n"
               "whose Index lies outside the data file) is reported as \"bad index: ...\"\n"
               "after what did load, and ls and verify then exit 1.",
    .options = {{"-o", true, "get: write the thumbnail to this PNG file"},
                {"--raw", false, "get: write the record to standard output"}},
    .run = RunCache,
}};

}  // namespace
}  // namespace scopa::tool
