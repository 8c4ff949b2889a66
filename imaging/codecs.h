// The filters of the process's filter list, one factory per format, and the helpers the
// bitmap codecs share.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/filter.h"
#include "imaging/row_reducer.h"

namespace scopa {

std::vector<std::unique_ptr<oFILTER>> MakeAllFilters();

std::unique_ptr<oFILTER> MakeBmpFilter();
std::unique_ptr<oFILTER> MakeJpegFilter(const char* id);
std::unique_ptr<oFILTER> MakePngFilter();
std::unique_ptr<oFILTER> MakeGifFilter();
std::unique_ptr<oFILTER> MakeTiffFilter(const char* id);
std::unique_ptr<oFILTER> MakeWebpFilter();
std::unique_ptr<oFILTER> MakePcxFilter();
std::unique_ptr<oFILTER> MakeTgaFilter();
std::unique_ptr<oFILTER> MakePnmFilter(const char* id);
std::unique_ptr<oFILTER> MakeIcoFilter();
std::unique_ptr<oFILTER> MakeWmfFilter();
std::unique_ptr<oFILTER> MakeSvgFilter();
std::unique_ptr<oFILTER> MakeEpsFilter();

// Largest encoded file read into memory whole (formats whose libraries want one buffer).
inline constexpr uint64_t kMaxEncodedFileBytes = uint64_t(256) << 20;

// Base of the bitmap filters: type 2, one identifier and description.
class BitmapFilter : public oFILTER {
public:
    BitmapFilter(const char* id, const char* description) : m_id(id), m_description(description) {}
    oFILTER_TYPE Type() const override { return kFilterTypeBitmap; }
    const char* GetID() const override { return m_id; }
    const char* GetDescription() const override { return m_description; }

protected:
    // Reads a picture of `size` row by row through a box reduction by `factor` into `out`.
    // `fill_row(y, bgr)` fills the y-th stored row (the bottom one first when `bottom_up`) with
    // blue-green-red pixels and returns kFilterDone, or the failure it recorded. Progress is
    // reported after every row and an interruption stops the read.
    template <class FillRow>
    oFILTER_STATUS ReduceRows(vSIZE size, int factor, bool bottom_up, FillRow fill_row, oDIB& out);

private:
    const char* m_id;
    const char* m_description;
};

template <class FillRow>
oFILTER_STATUS BitmapFilter::ReduceRows(vSIZE size, int factor, bool bottom_up, FillRow fill_row,
                                        oDIB& out) {
    RowReducer reducer;
    if (!reducer.Start(size, factor, bottom_up)) return NoMemoryFault(size, factor);
    std::vector<uint8_t> bgr(size_t(size.cx) * 3);
    ReportStart(uint32_t(size.cy));
    for (int32_t y = 0; y < size.cy; ++y) {
        oFILTER_STATUS status = fill_row(y, bgr.data());
        if (status == kFilterDone) {
            reducer.PushRow(bgr.data());
            if (!ReportProgress(uint32_t(y + 1))) status = kFilterInterrupted;
        }
        if (status != kFilterDone) {
            ReportEnd();
            return status;
        }
    }
    ReportEnd();
    out = std::move(reducer.Result());
    return kFilterDone;
}

// The reason of a picture whose data ends before row `row` (from 0) of `rows` is complete:
// "cut at byte N in row R of ROWS".
std::string CutText(const vSTREAM& in, int64_t row, int64_t rows);

// Turns a picture stored with orientation `orientation` (1-8, as in EXIF and TIFF) upright.
oDIB ApplyOrientation(const oDIB& stored, int orientation);
// True for orientations that swap width and height.
inline bool OrientationSwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The orientation in an APP1 "Exif" block (starting at "Exif\0\0"); 1 when absent or unreadable.
int ExifOrientation(std::span<const uint8_t> app1);

// The picture as 24-bit pixels (a copy only when it is of another depth).
const oDIB& As24(const oDIB& dib, oDIB& storage);

}  // namespace scopa
