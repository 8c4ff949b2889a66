// Thumbnail speed: the halving and dithering of one 256 x 256 render, and whole cache
// previews (load at reduced size, render, halve) of synthetic photographs written through our
// own writers. Set SCOPA_PHOTO_DIR to a folder of real pictures to time those too, grouped by
// extension, and its sequential JPEGs read at 1/8 by our DC reader beside libjpeg-turbo's own
// scaled decode.
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/jpeg_dc_scan.h"
#include "imaging/picture.h"
#include "imaging/thumbnail.h"
#include "platform/text.h"

namespace scopa {
namespace {

// A smooth colour field with fine noise, like a photograph's texture.
oDIB PhotoLike(int32_t width, int32_t height) {
    oDIB dib;
    dib.Create(width, height, 24);
    std::mt19937 random(7);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = dib.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            int noise = int(random() % 17) - 8;
            double u = double(x) / width, v = double(y) / height;
            row[3 * x] = uint8_t(std::clamp(int(200 * v) + noise, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(int(120 + 100 * std::sin(6 * u)) + noise, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp(int(255 * u) + noise, 0, 255));
        }
    }
    return dib;
}

void BM_HalveToThumbnail(benchmark::State& state) {
    oDIB render = PhotoLike(kRenderSidePx, kRenderSidePx);
    std::vector<uint8_t> out(kThumbnailBytes);
    for (auto _ : state) {
        int depth = 8;
        HalveToThumbnail(render, out.data(), depth);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_HalveToThumbnail)->Unit(benchmark::kMicrosecond);

// Synthetic 12-megapixel photographs in each written format, made once per process.
const std::filesystem::path& SyntheticFolder() {
    static std::filesystem::path folder = [] {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("scopa-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        oDIB photo = PhotoLike(4000, 3000);
        for (const char* id : {"JPG", "PNG", "WEBP", "TIF", "BMP"}) {
            WritePicture((path / (std::string("photo.") + id)).string(), id, &photo, nullptr);
        }
        std::atexit([] { std::filesystem::remove_all(SyntheticFolder()); });
        return path;
    }();
    return folder;
}

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Times cache previews of `files` in turn, and counts the minor page faults each one costs
// once every file has been read once (buffers that are reused no longer fault).
void TimeCachePreview(benchmark::State& state, const std::vector<std::string>& files) {
    std::vector<uint8_t> out(kThumbnailBytes);
    for (const std::string& file : files) {
        vSIZE covered;
        RenderCachePreview(nullptr, file, out.data(), covered);
    }
    long faults_before = MinorFaults();
    size_t next = 0;
    for (auto _ : state) {
        vSIZE covered;
        int result = RenderCachePreview(nullptr, files[next], out.data(), covered);
        if (result != kLoadRead) {
            state.SkipWithError(("cannot read " + files[next]).c_str());
            break;
        }
        next = (next + 1) % files.size();
    }
    state.counters["faults"] = benchmark::Counter(double(MinorFaults() - faults_before),
                                                  benchmark::Counter::kAvgIterations);
}

void BM_CachePreviewSynthetic(benchmark::State& state, const char* id) {
    TimeCachePreview(state, {(SyntheticFolder() / (std::string("photo.") + id)).string()});
}
BENCHMARK_CAPTURE(BM_CachePreviewSynthetic, JPG, "JPG")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CachePreviewSynthetic, PNG, "PNG")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CachePreviewSynthetic, WEBP, "WEBP")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CachePreviewSynthetic, TIF, "TIF")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CachePreviewSynthetic, BMP, "BMP")->Unit(benchmark::kMillisecond);

// A 30,000 x 30,000 PNG written row by row with libpng (about 16 MB, half a minute to make),
// only when SCOPA_BENCH_HUGE is set. Reports the process's peak resident memory after making
// its cache thumbnail, which must stay far below the picture's 2.7 GB of pixels.
bool WriteHugePng(const std::string& path, int side_px) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(side_px), png_uint_32(side_px), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(side_px) * 3);
    for (int y = 0; y < side_px; ++y) {
        for (int x = 0; x < side_px; ++x) {
            row[3 * size_t(x)] = uint8_t(x * 255 / side_px);
            row[3 * size_t(x) + 1] = uint8_t(y * 255 / side_px);
            row[3 * size_t(x) + 2] = uint8_t(x ^ y);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

void BM_HugePngPeakMemory(benchmark::State& state) {
    if (std::getenv("SCOPA_BENCH_HUGE") == nullptr) {
        state.SkipWithError("set SCOPA_BENCH_HUGE=1 to run");
        return;
    }
    // Kept between runs: making it takes longer than reading it.
    std::string path = (std::filesystem::temp_directory_path() / "scopa-bench-huge.png").string();
    if (!std::filesystem::exists(path) && !WriteHugePng(path, 30000)) {
        state.SkipWithError("cannot write the huge PNG");
        return;
    }
    std::vector<uint8_t> out(kThumbnailBytes);
    for (auto _ : state) {
        vSIZE covered;
        if (RenderCachePreview(nullptr, path, out.data(), covered) != kLoadRead) {
            state.SkipWithError("cannot read the huge PNG");
            break;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MiB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_HugePngPeakMemory)->Unit(benchmark::kSecond)->Iterations(1);

bool NoProgress(void*, int32_t) {
    return true;
}

// One 1/8 read of the JPEG `bytes` (a whole file), by the DC reader or by libjpeg-turbo with
// the JPEG filter's settings; false when the DC reader does not take the picture. The files
// are the benchmark's own, so the library's default error handling will do.
bool ReadJpegEighth(const std::vector<uint8_t>& bytes, bool dc_reader, oDIB& out) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    bool read = true;
    if (dc_reader) {
        DcScanLayout layout;
        vMEMSTREAM rest;
        read = DescribeDcScan(&info, layout) &&
               ReadDcScan(layout, {info.src->next_input_byte, info.src->bytes_in_buffer}, rest, out,
                          NoProgress, nullptr) == DcScanResult::kDone;
    } else {
        info.scale_denom = 8;
        info.out_color_space = JCS_EXT_BGR;
        info.do_fancy_upsampling = FALSE;
        info.dct_method = JDCT_IFAST;
        jpeg_start_decompress(&info);
        out.Create(int32_t(info.output_width), int32_t(info.output_height), 24);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = out.Row(int32_t(info.output_scanline));
            jpeg_read_scanlines(&info, &row, 1);
        }
    }
    jpeg_destroy_decompress(&info);
    return read;
}

// The 1/8 reads of the sequential JPEGs among `files`, held in memory, one per iteration.
void TimeJpegEighth(benchmark::State& state, const std::vector<std::string>& files,
                    bool dc_reader) {
    std::vector<std::vector<uint8_t>> pictures;
    for (const std::string& file : files) {
        vFILE stream(file, vFILE::kModeRead);
        std::vector<uint8_t> bytes;
        oDIB probe;
        if (stream.Error() == 0 && stream.ReadRest(bytes, uint64_t(1) << 28) &&
            ReadJpegEighth(bytes, true, probe)) {
            pictures.push_back(std::move(bytes));
        }
    }
    if (pictures.empty()) {
        state.SkipWithError("no sequential JPEG");
        return;
    }
    size_t next = 0;
    oDIB out;
    for (auto _ : state) {
        ReadJpegEighth(pictures[next], dc_reader, out);
        benchmark::DoNotOptimize(out.Bits().data());
        next = (next + 1) % pictures.size();
    }
}

// Real pictures from SCOPA_PHOTO_DIR, one benchmark per extension.
const bool kPhotoBenchmarksRegistered = [] {
    const char* folder = std::getenv("SCOPA_PHOTO_DIR");
    if (folder == nullptr) return false;
    std::map<std::string, std::vector<std::string>> by_extension;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (!entry.is_regular_file()) continue;
        std::string extension = ToUpperAscii(entry.path().extension().string());
        if (!extension.empty()) by_extension[extension.substr(1)].push_back(entry.path().string());
    }
    for (auto& [extension, files] : by_extension) {
        benchmark::RegisterBenchmark(
            ("BM_CachePreviewPhotos/" + extension).c_str(),
            [files = files](benchmark::State& state) { TimeCachePreview(state, files); })
            ->Unit(benchmark::kMillisecond);
        if (extension != "JPG" && extension != "JPEG") continue;
        for (bool dc_reader : {true, false}) {
            benchmark::RegisterBenchmark(
                dc_reader ? "BM_JpegEighthPhotos/dc_reader" : "BM_JpegEighthPhotos/library",
                [files = files, dc_reader](benchmark::State& state) {
                    TimeJpegEighth(state, files, dc_reader);
                })
                ->Unit(benchmark::kMillisecond);
        }
    }
    return true;
}();

}  // namespace
}  // namespace scopa
