// Format filters and their list. A filter recognises a format by content, reads it into a
// bitmap (oDIB) or a vector picture (vMETAFILE), and may write it. Bitmap filters offer
// resolutions: reduced sizes the decoder can produce cheaply (DCT scaling for JPEG, row-by-row
// box reduction for row-based formats), so a thumbnail never needs the full-size pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/dib.h"
#include "imaging/filter_failure.h"
#include "imaging/geometry.h"
#include "imaging/stream.h"
#include "imaging/vector.h"

namespace scopa {

enum oFILTER_TYPE : int {
    kFilterTypeNone = 0,
    kFilterTypeVector = 1,
    kFilterTypeBitmap = 2,
    kFilterTypeEps = 3,
};

enum oFILTER_STATUS : int {
    kFilterDone = 0,
    kFilterFailed = 2,  // corrupt, unsupported or too large: LastFailure says which
    kFilterCannotCreate = 6,
    kFilterInterrupted = 8,
};

// Progress of one conversion. Filters call oStart, oFullScale, oUpdate as work advances,
// oInterrupted now and then (non-zero stops the conversion with status 8) and oEnd.
class oPROGRESS {
public:
    virtual ~oPROGRESS() = default;
    virtual void oFullScale(uint32_t full_scale) { m_fullScale = full_scale; }
    virtual void oIncrement(uint32_t step) { oUpdate(m_current + step); }
    virtual void oSet(uint32_t value) { m_current = value; }
    virtual void oStart() { m_current = 0; }
    virtual void oEnd() {}
    virtual int oQuery() { return 0; }
    virtual int oInterrupted() { return 0; }
    virtual void oUpdate(uint32_t value) { m_current = value; }

    uint32_t m_current = 0;
    uint32_t m_fullScale = 0;
};

// How many bytes of a stream's start GetFilter shows to each filter's CheckStream.
inline constexpr size_t kSniffBytes = 4096;
// Bitmaps whose full decode would exceed this many pixels are refused.
inline constexpr uint64_t kMaxFullDecodePixels = uint64_t(1) << 30;
// Even a reduced read passes every pixel through the decoder; beyond this many (about twenty
// seconds of decoding) a picture is refused rather than left to look like a hang.
inline constexpr uint64_t kMaxStreamedPixels = uint64_t(1) << 31;

// True when a picture of `size` read at reduction `factor` is beyond the limits above.
constexpr bool IsTooLargeToRead(vSIZE size, int factor) {
    uint64_t pixels = uint64_t(size.cx > 0 ? size.cx : 0) * uint64_t(size.cy > 0 ? size.cy : 0);
    return pixels > kMaxStreamedPixels || (factor == 1 && pixels > kMaxFullDecodePixels);
}
// Reduced resolutions are offered down to this size of the longer side, the size pictures are
// rendered at for thumbnails, so the final reduction always has a margin of two.
inline constexpr int32_t kSmallestOfferedSidePx = 256;

class oFILTER {
public:
    virtual ~oFILTER() = default;
    virtual oFILTER_TYPE Type() const = 0;
    // True when `head` (the first bytes of a stream, at most kSniffBytes) is this format.
    virtual bool CheckStream(std::span<const uint8_t> head) const = 0;
    virtual bool DoesExport() const { return false; }
    virtual bool DoesImport() const { return true; }
    virtual const char* GetID() const = 0;
    virtual const char* GetDescription() const = 0;

    // Reads a bitmap (type 2), or the embedded preview of a type-3 picture.
    virtual oFILTER_STATUS Convert(vSTREAM& in, oDIB& out);
    // Reads a vector picture (type 1).
    virtual oFILTER_STATUS Convert(vSTREAM& in, vMETAFILE& out);
    // Writes a bitmap or a vector picture.
    virtual oFILTER_STATUS Convert(const oDIB& in, vSTREAM& out);
    virtual oFILTER_STATUS Convert(const vMETAFILE& in, vSTREAM& out);

    // Resolutions of the picture at `path` (0 when the file cannot be read); then
    // GetResolution(index) gives each size, largest first, and SetResolution(index) chooses one
    // for the next read. After each read the filter returns to its full size.
    int GetResolutionCount(const std::string& path);
    // The same for a stream, read from its current position (which is then undefined).
    int GetResolutionCount(vSTREAM& in);
    vSIZE GetResolution(int index) const;
    void SetResolution(int index) { m_resolutionIndex = index; }
    // True for formats that store the picture at several resolutions, whose index a caller
    // may choose. The reduced reads the other bitmap formats offer are a decoding shortcut
    // for thumbnails: such a format has one resolution of its own.
    virtual bool HasSeveralResolutions() const { return false; }

    // Set by the caller for one conversion, null otherwise.
    oPROGRESS* m_progress = nullptr;

    // Why the last failed conversion failed. Callers clear it before a conversion (LoadPicture
    // and WritePicture do), so it is empty after one that did not fail.
    const FilterFailure& LastFailure() const { return m_failure; }
    void ClearFailure() { m_failure = {}; }

protected:
    // Record why the conversion fails and return kFilterFailed, so that a decoder ends with
    // `return DataFault("width 0");`.
    oFILTER_STATUS DataFault(std::string text);
    oFILTER_STATUS ResourceFault(std::string text);
    // The limits of IsTooLargeToRead as a resource fault that names the size.
    oFILTER_STATUS TooLargeFault(vSIZE size);
    // The reduced picture `size` / `factor` could not be allocated.
    oFILTER_STATUS NoMemoryFault(vSIZE size, int factor);
    // The status of another filter that read part of this picture (an icon's PNG image, an
    // EPS file's preview), taking over its reason.
    oFILTER_STATUS Adopt(const oFILTER& inner, oFILTER_STATUS status);

    // Size of the picture in `in` as it would be decoded at full size (after orientation);
    // false when the header cannot be read. Filters without reduced reads return false.
    virtual bool ReadPictureSize(vSTREAM& in, vSIZE& size);
    // The reduction factors this format can decode at: 1, 2, 4, 8 for DCT scaling, any power
    // of two for row reduction.
    virtual int MaxReductionFactor() const { return 1; }

    // The reduction factor chosen for the next read of a picture of `size`; clears the choice.
    int TakeReductionFactor(vSIZE size);

    // Progress helpers for decoders: each returns false when the conversion is to stop.
    void ReportStart(uint32_t full_scale);
    bool ReportProgress(uint32_t value);
    void ReportEnd();

private:
    FilterFailure m_failure;
    std::vector<int> m_factors;
    std::vector<vSIZE> m_sizes;
    int m_resolutionIndex = -1;
};

// The reduction factors (largest size first) offered for a picture of `size` when a decoder
// can reduce by up to `max_factor`.
std::vector<int> OfferedReductionFactors(vSIZE size, int max_factor);
// The size of a picture reduced by `factor`, rounding up so partial blocks are kept.
vSIZE ReducedSize(vSIZE size, int factor);

// The calling thread's filters, built on its first use. Instances are handles on that list;
// a filter found on one thread is used on that thread only.
class oFILTERLIST {
public:
    static uint16_t GetNoItems();
    oFILTER& operator[](int index) const;
    // Recognises a stream by content from its current position (restored afterwards).
    static oFILTER_TYPE GetFilter(vSTREAM& stream, oFILTER*& filter);
    // The first filter whose GetID equals `id` exactly, or null.
    static oFILTER* FindByID(const std::string& id);
};

}  // namespace scopa
