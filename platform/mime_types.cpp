#include "platform/mime_types.h"

#include <memory>

#include "platform/loaded_libraries.h"
#include "platform/text.h"

namespace scopa {

namespace {

// A description longer than this is cut: the database is read from folders users can write.
constexpr size_t kMaxDescriptionBytes = 1024;

struct GFreeDeleter {
    void operator()(void* memory) const { Gio().free(memory); }
};
using GlibText = std::unique_ptr<char, GFreeDeleter>;

std::string TakeText(char* text) {
    GlibText owner(text);
    return owner ? std::string(owner.get()) : std::string();
}

// GIO describes a type that has no comment in the database as "<type> type", translated; that
// text names the type rather than describing it, so it counts as no description.
struct StandInFormat {
    std::string before;  // the text around the type, in the process's language
    std::string after;
    bool known = false;
};

const StandInFormat& TheStandInFormat() {
    static const StandInFormat format = [] {
        StandInFormat read;
        std::string_view text = Gio().dgettext("glib20", "%s type");
        size_t slot = text.find("%s");
        if (slot == std::string_view::npos) return read;
        read.before = text.substr(0, slot);
        read.after = text.substr(slot + 2);
        read.known = true;
        return read;
    }();
    return format;
}

bool IsStandInDescription(std::string_view description) {
    const StandInFormat& format = TheStandInFormat();
    if (!format.known || description.size() < format.before.size() + format.after.size() ||
        !description.starts_with(format.before) || !description.ends_with(format.after)) {
        return false;
    }
    std::string_view type = description.substr(
        format.before.size(), description.size() - format.before.size() - format.after.size());
    return type.find('/') != std::string_view::npos && type.find(' ') == std::string_view::npos;
}

}  // namespace

std::string MimeTypeOfName(std::string_view file_name) {
    if (file_name.empty() || !LoadGio()) return {};
    // File names need not be UTF-8; the globs are matched on the name's UTF-8 reading.
    GlibText name(Gio().utf8_make_valid(file_name.data(), static_cast<gssize>(file_name.size())));
    gboolean uncertain = FALSE;
    GlibText content_type(Gio().content_type_guess(name.get(), nullptr, 0, &uncertain));
    // Without data to look at, a name no glob matches is unknown data, and uncertain.
    if (!content_type || (uncertain && kUnknownMimeType == content_type.get())) return {};
    return TakeText(Gio().content_type_get_mime_type(content_type.get()));
}

std::string MimeTypeDescription(std::string_view mime_type) {
    if (mime_type.empty() || !LoadGio()) return {};
    std::string description =
        TakeText(Gio().content_type_get_description(std::string(mime_type).c_str()));
    if (IsStandInDescription(description)) return {};
    return std::string(CutUtf8(description, kMaxDescriptionBytes));
}

std::string MimeTypeIconName(std::string_view mime_type) {
    if (mime_type.empty() || !LoadGio()) return {};
    // A themed icon whose names run from the database's own icon to the generic one.
    std::unique_ptr<GIcon, decltype(Gio().object_unref)> icon(
        Gio().content_type_get_icon(std::string(mime_type).c_str()), Gio().object_unref);
    if (!icon || !Gio().type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(icon.get()),
                                                 Gio().themed_icon_get_type())) {
        return {};
    }
    const gchar* const* names =
        Gio().themed_icon_get_names(reinterpret_cast<GThemedIcon*>(icon.get()));
    return names != nullptr && names[0] != nullptr ? std::string(names[0]) : std::string();
}

std::string MimeTypeGenericIconName(std::string_view mime_type) {
    if (mime_type.empty() || !LoadGio()) return {};
    return TakeText(Gio().content_type_get_generic_icon_name(std::string(mime_type).c_str()));
}

std::string FileTypeText(std::string_view file_name) {
    std::string mime_type = MimeTypeOfName(file_name);
    if (!mime_type.empty()) {
        std::string description = MimeTypeDescription(mime_type);
        if (!description.empty()) return description;
    }
    size_t dot = file_name.rfind('.');
    if (dot != std::string_view::npos && dot + 1 < file_name.size()) {
        return ToUpperAscii(file_name.substr(dot + 1)) + " File";
    }
    return MimeTypeDescription(kUnknownMimeType);
}

}  // namespace scopa
