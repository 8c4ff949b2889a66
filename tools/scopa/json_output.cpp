// nlohmann-json escapes each text; the members are laid out here, since its own layouts are
// either all on one line without spaces or one member per line.
#include "json_output.h"

#include <nlohmann/json.hpp>

namespace scopa::tool {
namespace {

std::string Scalar(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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
