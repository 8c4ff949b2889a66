// The layout of the tool's JSON output: every object on one line, keys in the order they were
// set, ": " after a key and ", " between members; a list of objects puts each on a line of its
// own. Text that is not UTF-8 (file names may hold any bytes) has U+FFFD in place of each
// faulty byte, so the output is always valid JSON.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace scopa::tool {

// `value` on one line, with no line break at the end.
std::string JsonLine(const nlohmann::ordered_json& value);

// "[", then each of `values` on its own line indented by two spaces, then "]"; an empty list
// is "[]". No line break at the end.
std::string JsonLines(const std::vector<nlohmann::ordered_json>& values);

}  // namespace scopa::tool
