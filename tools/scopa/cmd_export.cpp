// scopa export: converts a picture to another format, as the export dialog does.
#include <cstdio>
#include <string>

#include "command.h"
#include "imaging/export.h"
#include "imaging/filter.h"
#include "imaging/picture.h"

namespace scopa::tool {
namespace {

bool ParseSize(const std::string& text, int32_t& width, int32_t& height) {
    int w = 0, h = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w <= 0 || h <= 0 ||
        w > 65535 || h > 65535) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

int RunExport(const Arguments& arguments) {
    if (arguments.positional.size() != 2) {
        return Fail("export", "expects a source and a destination (see --help)", kExitUsage);
    }
    auto format = arguments.Value("--format");
    if (!format) return Fail("export", "--format ID is required", kExitUsage);
    oFILTER* filter = oFILTERLIST::FindByID(*format);
    if (filter == nullptr || !filter->DoesExport()) {
        return Fail("export", "no filter writes the format '" + *format + "'", kExitUsage);
    }
    vSIZE size = kVectorExportSizes[kDefaultVectorExportSize];
    if (auto text = arguments.Value("--size"); text && !ParseSize(*text, size.cx, size.cy)) {
        return Fail("export", "--size must be WIDTHxHEIGHT", kExitUsage);
    }
    const std::string& source = arguments.positional[0];
    // The format's extension is added unless the name ends in it, as the export dialog does.
    const std::string destination = PathWithExtension(arguments.positional[1], *format);
    if (!IsPictureOfKind(source, "PCF", true)) {
        return Fail("export", "cannot read the picture " + source);
    }
    if (!ExportPicture(nullptr, destination, *format, size.cx, size.cy, source,
                       kAutomaticResolution)) {
        const FilterFailure& why = LastPictureFailure();
        return Fail("export", "cannot export " + source + " to " + destination +
                                  (why.IsSet() ? ": " + why.text : ""));
    }
    return kExitOk;
}

const RegisterCommand kExport({
    "export",
    "export SOURCE DESTINATION --format ID [--size WxH]",
    "Convert a picture to another format",
    "ID names a format that can be written (BMP, JPG, PNG, GIF, TIF, WEBP, WMF, ...).\n"
    "Unless DESTINATION ends in .ID (any letter case), .ID is appended to it. When the\n"
    "source's extension is ID the file is copied. Any picture that can be read is\n"
    "exported, whatever its name; an EPS picture as its preview bitmap. Vector pictures\n"
    "exported to a bitmap format are rendered to fit WxH (default 1024x768); exported to\n"
    "WMF they stay vector where they can.",
    {{"--format", true, "identifier of the format to write"},
     {"--size", true, "largest bitmap size for a vector source, e.g. 800x600"}},
    RunExport,
});

}  // namespace
}  // namespace scopa::tool
