// nlohmann-json escapes each text; the members are laid out here, since its own layouts are
// either all on one line without spaces or one member per line.
#include "json_output.h"

#include <nlohmann/json.hpp>

#include "platform/code_pages.h"

namespace scopa::tool {
namespace {

// Text goes through the program's own UTF-8 check first, so a faulty byte becomes U+FFFD here
// as it does everywhere else; the library's own replacement is only a safety net.
std::string Scalar(const nlohmann::ordered_json& value) {
    constexpr auto kReplace = nlohmann::ordered_json::error_handler_t::replace;
    if (!value.is_string()) return value.dump(-1, ' ', false, kReplace);
    const auto& text = value.get_ref<const std::string&>();
    return nlohmann::ordered_json(CodePageToUtf8(text, kUtf8CodePage))
        .dump(-1, ' ', false, kReplace);
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& value) {
    if (!value.is_structured()) return Scalar(value);
    const bool object = value.is_object();
    std::string line = object ? "{" : "[";
    const char* separator = "";
    for (auto member = value.begin(); member != value.end(); ++member) {
        line += separator;
        if (object) line += Scalar(member.key()) + ": ";
        line += JsonLine(member.value());
        separator = ", ";
    }
    return line + (object ? "}" : "]");
}

std::string JsonLines(const std::vector<nlohmann::ordered_json>& values) {
    if (values.empty()) return "[]";
    std::string text = "[";
    const char* separator = "\n  ";
    for (const nlohmann::ordered_json& value : values) {
        text += separator + JsonLine(value);
        separator = ",\n  ";
    }
    return text + "\n]";
}

}  // namespace scopa::tool
