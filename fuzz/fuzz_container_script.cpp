// Container script lines: tokenizing never fails loudly, and every string token quotes and
// reads back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/container_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto tokens = scopa::TokenizeScriptLine(line, error);
    if (!tokens) return 0;
    for (const scopa::ScriptToken& token : *tokens) {
        if (token.kind != scopa::ScriptToken::Kind::kString) continue;
        std::string quoted = scopa::QuoteScriptString(token.text);
        auto again = scopa::TokenizeScriptLine(quoted, error);
        if (!again || again->size() != 1 || (*again)[0].text != token.text) std::abort();
    }
    return 0;
}
