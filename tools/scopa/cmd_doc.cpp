// scopa doc FILE [--json] [-o out.png]: what kind of the maker's documents a file is, its
// summary-information keywords and its stored preview.

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "command.h"
#include "documents/document_previews.h"
#include "documents/pilot_programs.h"
#include "documents/preview_dib.h"
#include "documents/property_set.h"
#include "imaging/picture.h"
#include "json_output.h"
#include "platform/text.h"

namespace scopa::tool {
namespace {

// The applications whose pilots are recognised, by the tag their version resource carries.
constexpr const char* kPilotTags[] = {"QLMK", "TSLN"};
constexpr const char* kCommandName = "doc";

struct DocumentReport {
    std::string kind = "none";
    std::string keywords;
    bool has_preview = false;
    DocumentPreview preview;
};

DocumentReport Examine(const std::string& path) {
    DocumentReport report;
    DocumentSource source = DocumentSource::File(path);
    bool (*reader)(const DocumentSource&, DocumentPreview*) = nullptr;
    if (IsDTPContent(source, "")) {
        report.kind = "dtp";
        reader = MakeDTPPreview;
    } else if (IsScrapContent(source)) {
        report.kind = "scrap";
        reader = MakeScrapPreview;
    } else if (IsArtContent(source)) {
        report.kind = EndsWithNoCase(path, ".DSP") ? "snippet" : "art";
        reader = MakeArtPreview;
    } else if (IsFlourishContent(source)) {
        report.kind = "styledtext";
        reader = MakeFlourishPreview;
    }
    if (reader != nullptr) {
        report.has_preview = reader(source, &report.preview);
    } else {
        for (const char* tag : kPilotTags) {
            if (IsPilot(path, tag, "", {})) {
                report.kind = "pilot";
                report.has_preview = MakePilotPreview(path, &report.preview);
                break;
            }
        }
    }
    if (source.IsStorageFile() == StorageFileAnswer::kStorage) {
        std::unique_ptr<OleStorage> storage = source.OpenStorage(kStgmPriority | kStgmRead);
        CSummaryInfo summary;
        if (summary.ReadFromStorage(storage.get())) report.keywords = summary.GetKeywords();
    }
    return report;
}

// Writes through the imaging layer's PNG filter, which replaces the file only on success.
bool WritePng(const std::string& path, const DocumentPreview& preview, std::string* error) {
    oDIB dib = PreviewToDib(preview);
    if (dib.IsEmpty() || WritePicture(path, "PNG", &dib, nullptr) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

int RunDoc(const Arguments& arguments) {
    if (arguments.positional.size() != 1) {
        return Fail(kCommandName, "expects one FILE (see --help)", kExitUsage);
    }
    const std::string& path = arguments.positional[0];
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code) || ::access(path.c_str(), R_OK) != 0) {
        return Fail(kCommandName, "cannot read " + path);
    }
    DocumentReport report = Examine(path);
    const int width = report.has_preview ? report.preview.width_px : 0;
    const int height = report.has_preview ? report.preview.height_px : 0;
    if (std::optional<std::string> out = arguments.Value("-o")) {
        if (!report.has_preview) return Fail(kCommandName, path + " has no preview to write");
        std::string error;
        if (!WritePng(*out, report.preview, &error)) return Fail(kCommandName, error);
    }
    if (arguments.Has("--json")) {
        nlohmann::ordered_json object = {{"kind", report.kind},
                                         {"keywords", report.keywords},
                                         {"preview_width", width},
                                         {"preview_height", height}};
        std::printf("%s\n", JsonLine(object).c_str());
    } else {
        std::printf("kind: %s\nkeywords: %s\n", report.kind.c_str(), report.keywords.c_str());
        if (report.has_preview) {
            std::printf("preview: %d x %d\n", width, height);
        } else {
            std::printf("preview: none\n");
        }
    }
    return kExitOk;
}

const RegisterCommand kRegistration({
    kCommandName,
    "doc FILE [--json] [-o out.png]",
    "show the kind, keywords and preview of a document or pilot program",
    "Recognises desktop-publishing, scrap, art, snippet and styled-text documents by\n"
    "their content and pilot programs by their resources, prints the kind (\"none\" for\n"
    "any other file), the summary-information keywords and the size of the stored\n"
    "preview, and writes the preview as a PNG file with -o.",
    {{"--json", false, "print one JSON object: kind, keywords, preview_width, preview_height"},
     {"-o", true, "write the preview to this PNG file"}},
    RunDoc,
});

}  // namespace
}  // namespace scopa::tool
