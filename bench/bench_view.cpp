// What a target waits for when it asks a dragged picture for data: the Windows bitmap, the
// PNG and the metafile rendered from files on disk, and the first rendering of the preview
// window (load and fit) for a photograph-sized picture.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imaging/picture.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "view/drag_data.h"
#include "view/preview_geometry.h"

namespace scopa {
namespace {

// A picture of `width` x `height` written once per benchmark run.
class PictureFile {
public:
    PictureFile(int32_t width, int32_t height) {
        m_path = (m_dir / "picture.png").string();
        test::WriteTestPicture(m_path, width, height, 3);
    }
    const std::string& path() const { return m_path; }

private:
    test::ScopedTempDir m_dir;
    std::string m_path;
};

void BM_DragRender(benchmark::State& state, std::string_view format) {
    PictureFile picture(int32_t(state.range(0)), int32_t(state.range(0)) * 3 / 4);
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        if (!RenderDragFormat(picture.path(), format, -1, bytes)) state.SkipWithError("render");
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK_CAPTURE(BM_DragRender, bmp, kDragMimeBmp)
    ->Arg(640)
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DragRender, png, kDragMimePng)
    ->Arg(640)
    ->Arg(1600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DragRender, uri_list, kDragMimeUriList)->Arg(640);

void BM_PreviewFirstRender(benchmark::State& state) {
    PictureFile picture(1600, 1200);
    const vSIZE screen{1024, 740};
    for (auto _ : state) {
        oDIB dib;
        vMETAFILE metafile;
        int kind = 0;
        LoadPicture(nullptr, picture.path(), dib, metafile, kind, 4);
        int32_t side = BitmapPreviewSide({dib.Width(), dib.Height()}, screen);
        oDIB target;
        target.Create(side, side, 24);
        benchmark::DoNotOptimize(RenderPicture(target, kind, dib, metafile));
    }
}
BENCHMARK(BM_PreviewFirstRender)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace scopa
