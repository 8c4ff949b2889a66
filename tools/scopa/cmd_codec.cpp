// scopa codec: the implode codec on whole files, for checking cache streams by hand.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cache/implode.h"
#include "command.h"

namespace scopa::tool {
namespace {

namespace implode = scopa::implode;

constexpr const char* kName = "codec";

// Streams between two open files through the codec's callbacks.
struct FilePipe {
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    bool write_failed = false;
};

unsigned ReadFile(unsigned char* buffer, unsigned* size, void* context) {
    auto* pipe = static_cast<FilePipe*>(context);
    return static_cast<unsigned>(std::fread(buffer, 1, *size, pipe->in));
}

void WriteFile(unsigned char* buffer, unsigned* size, void* context) {
    auto* pipe = static_cast<FilePipe*>(context);
    if (std::fwrite(buffer, 1, *size, pipe->out) != *size) pipe->write_failed = true;
}

struct OpenFiles {
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    ~OpenFiles() {
        if (in != nullptr) std::fclose(in);
        if (out != nullptr) std::fclose(out);
    }
};

// Opens IN and OUT; returns kExitOk or reports the problem.
int Open(const std::string& in_path, const std::string& out_path, OpenFiles& files) {
    files.in = std::fopen(in_path.c_str(), "rb");
    if (files.in == nullptr) return Fail(kName, "cannot read '" + in_path + "'");
    files.out = std::fopen(out_path.c_str(), "wb");
    if (files.out == nullptr) return Fail(kName, "cannot write '" + out_path + "'");
    return kExitOk;
}

int Finish(OpenFiles& files, const FilePipe& pipe, const std::string& out_path) {
    bool failed = pipe.write_failed || std::ferror(files.in) != 0;
    if (std::fclose(files.out) != 0) failed = true;
    files.out = nullptr;
    if (failed) return Fail(kName, "error while writing '" + out_path + "'");
    return kExitOk;
}

const char* ExpandResultText(int result) {
    switch (result) {
        case implode::kResultBadDictionary:
            return "bad dictionary size in the stream header";
        case implode::kResultBadLiteralMode:
            return "bad literal mode in the stream header";
        case implode::kResultShortInput:
            return "stream shorter than 5 bytes";
        case implode::kResultNoEndCode:
            return "stream ends or breaks before its end code";
        default:
            return "unknown error";
    }
}

int RunImplode(const Arguments& arguments) {
    unsigned literal_mode =
        arguments.Has("--ascii") ? implode::kLiteralsAscii : implode::kLiteralsBinary;
    unsigned dictionary_bytes = 4096;
    if (auto value = arguments.Value("--dict")) {
        if (*value == "1024") {
            dictionary_bytes = 1024;
        } else if (*value == "2048") {
            dictionary_bytes = 2048;
        } else if (*value != "4096") {
            return Fail(kName, "--dict must be 1024, 2048 or 4096", kExitUsage);
        }
    }
    OpenFiles files;
    if (int status = Open(arguments.positional[1], arguments.positional[2], files)) return status;
    FilePipe pipe{files.in, files.out};
    auto work = std::make_unique<implode::CompressWorkArea>();
    int result =
        implode::Compress(ReadFile, WriteFile, *work, &pipe, literal_mode, dictionary_bytes);
    if (result != implode::kResultOk) {
        Fail(kName, "compression refused its settings");
        return result;
    }
    return Finish(files, pipe, arguments.positional[2]);
}

// Bytes left in `file` from its current position.
uint64_t CountRest(std::FILE* file) {
    uint64_t count = 0;
    unsigned char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        count += got;
    return count;
}

int RunExplode(const Arguments& arguments) {
    if (arguments.Has("--ascii") || arguments.Has("--dict")) {
        return Fail(kName, "explode reads its settings from the stream header", kExitUsage);
    }
    OpenFiles files;
    if (int status = Open(arguments.positional[1], arguments.positional[2], files)) return status;
    FilePipe pipe{files.in, files.out};
    auto work = std::make_unique<implode::ExpandWorkArea>();
    implode::ExpandDetail detail;
    int result = implode::Expand(ReadFile, WriteFile, *work, &pipe, &detail);
    // Input after the end code is not part of the stream: what the expander read beyond it and
    // what it never had to read.
    uint64_t unused =
        result == implode::kResultOk ? detail.unused_input_bytes + CountRest(files.in) : 0;
    if (int status = Finish(files, pipe, arguments.positional[2]); status != kExitOk) {
        return status;
    }
    if (result != implode::kResultOk) {
        std::string why = implode::DescribeExpandFault(detail);
        Fail(kName, std::string(ExpandResultText(result)) + (why.empty() ? "" : ": " + why) +
                        " (result " + std::to_string(result) + ")");
        return result;
    }
    if (unused != 0) {
        std::fprintf(stderr, "scopa %s: warning: %llu unused bytes of input after the end code\n",
                     kName, static_cast<unsigned long long>(unused));
    }
    return kExitOk;
}

int RunCodec(const Arguments& arguments) {
    const auto& words = arguments.positional;
    if (words.size() != 3 || (words[0] != "implode" && words[0] != "explode")) {
        return Fail(kName, "usage: scopa codec implode|explode IN OUT", kExitUsage);
    }
    return words[0] == "implode" ? RunImplode(arguments) : RunExplode(arguments);
}

RegisterCommand g_register{{
    .name = kName,
    .synopsis = "codec implode IN OUT [--ascii] [--dict 1024|2048|4096] | codec explode IN OUT",
    .summary = "compress or expand a file with the implode codec of compressed caches",
    .details = "implode writes one stream of the whole of IN: binary literals and a 4096-byte\n"
               "dictionary unless told otherwise, as compressed cache records use.\n"
               "explode expands one stream. The exit status is 0 on success and otherwise the\n"
               "expander's result: 1 bad dictionary size, 2 bad literal mode, 3 fewer than 5\n"
               "bytes, 4 input ended or broke before the end code (what was expanded up to\n"
               "there is still written; the message says which). Input after the end code is\n"
               "reported as a warning. A file that cannot be opened or written gives 1.",
    .options = {{"--ascii", false, "implode: Huffman-code the literals (ASCII mode)"},
                {"--dict", true, "implode: dictionary size, 1024, 2048 or 4096"}},
    .run = RunCodec,
}};

}  // namespace
}  // namespace scopa::tool
