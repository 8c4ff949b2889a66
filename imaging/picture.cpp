#include "imaging/picture.h"

#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "imaging/draw.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace scopa {
namespace {

// One per thread, like the filters it points into.
thread_local const oFILTER* g_lastMatched = nullptr;
thread_local FilterFailure g_lastFailure;

uint32_t SteadyTickMs() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
TickSource g_tickSource = SteadyTickMs;

// Forwards a filter's progress to the observer, at most once per interval, as a percentage.
class CProgress : public oPROGRESS {
public:
    explicit CProgress(PictureLoadObserver* observer) : m_observer(observer) {}
    void oStart() override {
        oPROGRESS::oStart();
        oSet(0);
        if (m_observer != nullptr) m_observer->OnLoadStart();
        m_lastTickMs = g_tickSource();
    }
    void oEnd() override {
        if (m_observer != nullptr) m_observer->OnLoadEnd();
    }
    int oQuery() override { return 0; }
    int oInterrupted() override {
        return m_observer != nullptr && m_observer->IsInterruptionPending() ? 1 : 0;
    }
    void oUpdate(uint32_t value) override {
        oPROGRESS::oUpdate(value);
        uint32_t now = g_tickSource();
        if (now - m_lastTickMs <= kProgressIntervalMs) return;
        m_lastTickMs = now;
        if (m_observer != nullptr && m_fullScale != 0) {
            m_observer->OnLoadProgress(uint32_t(uint64_t(m_current) * 100 / m_fullScale));
        }
    }

private:
    PictureLoadObserver* m_observer;
    uint32_t m_lastTickMs = 0;
};

// The text after the last '.', or the whole text, upper-cased.
std::string ExtensionOf(const std::string& path) {
    size_t dot = path.rfind('.');
    return ToUpperAscii(dot == std::string::npos ? path : path.substr(dot + 1));
}

oFILTER* FindByExtension(const std::string& path) {
    std::string extension = ExtensionOf(path);
    if (g_lastMatched != nullptr && extension == g_lastMatched->GetID()) {
        return const_cast<oFILTER*>(g_lastMatched);
    }
    oFILTERLIST list;
    for (int i = 0; i < list.GetNoItems(); ++i) {
        if (extension == list[i].GetID()) {
            g_lastMatched = &list[i];
            return &list[i];
        }
    }
    return nullptr;
}

int ChooseResolution(oFILTER& filter, const std::string& path) {
    int count = filter.GetResolutionCount(path);
    std::vector<vSIZE> sizes;
    for (int i = 0; i < count; ++i)
        sizes.push_back(filter.GetResolution(i));
    return ChooseAutomaticResolution(sizes);
}

// Why a file could not be opened, from the errno its opening left.
std::string OpenErrorText(int error) {
    if (error == EINVAL) return "not a regular file";
    return error != 0 ? std::strerror(error) : "cannot be opened";
}

// Keeps `failure` as the thread's last and traces it with the path.
void NoteFailure(const std::string& path, FilterFailure failure) {
    Trace(path + ": " + failure.text + " (" + FailureKindName(failure.kind) + ")\n");
    g_lastFailure = std::move(failure);
}

// The reason of a failed conversion, named by its format; a filter that gave none failed
// for a reason it did not tell.
FilterFailure ConversionFailure(const oFILTER& filter) {
    FilterFailure failure = filter.LastFailure();
    if (!failure.IsSet()) failure = {FailureKind::kData, "corrupt, unsupported or too large"};
    failure.text = std::string(filter.GetID()) + ": " + failure.text;
    return failure;
}

int StatusToLoadResult(oFILTER_STATUS status) {
    if (status == kFilterDone) return kLoadRead;
    if (status == kFilterInterrupted) return kLoadInterrupted;
    return kLoadFailed;
}

}  // namespace

int ChooseAutomaticResolution(std::span<const vSIZE> sizes) {
    constexpr int32_t kThumbnailSide = 128;
    vSIZE best{9999, 9999};
    int chosen = -1;
    for (size_t i = 0; i < sizes.size(); ++i) {
        vSIZE size = sizes[i];
        if ((size.cx > kThumbnailSide || size.cy > kThumbnailSide) &&
            (size.cx < best.cx || size.cy < best.cy)) {
            best = size;
            chosen = int(i);
        }
    }
    return chosen;
}

void SetTickSource(TickSource source) {
    g_tickSource = source != nullptr ? source : SteadyTickMs;
}

const oFILTER* LastMatchedFilter() {
    return g_lastMatched;
}

const FilterFailure& LastPictureFailure() {
    return g_lastFailure;
}

void NotePictureFailure(const std::string& path, FilterFailure failure) {
    NoteFailure(path, std::move(failure));
}

bool IsPictureOfKind(const std::string& path, const std::string& kind, bool by_content) {
    oFILTER* found = nullptr;
    if (by_content) {
        vFILE file(path, vFILE::kModeRead);
        if (file.Error()) return false;
        file.MoveFromStart(0);
        if (oFILTERLIST::GetFilter(file, found) == kFilterTypeNone) found = nullptr;
        file.Close();
    } else {
        found = FindByExtension(path);
    }
    if (found == nullptr) return false;
    if (kind == "PCF") return true;
    if (kind == "BMF") return found->Type() == kFilterTypeBitmap;
    if (kind == "LAF") return found->Type() == kFilterTypeVector;
    return kind == found->GetID();
}

int LoadPicture(PictureLoadObserver* observer, const std::string& path, oDIB& dib,
                vMETAFILE& metafile, int& kind, int resolution_index) {
    g_lastFailure = {};
    errno = 0;
    vFILE file(path, vFILE::kModeRead);
    if (file.Error()) {
        NoteFailure(path, {FailureKind::kResource, OpenErrorText(errno)});
        return kLoadFailed;
    }
    file.MoveFromStart(0);
    oFILTER* filter = nullptr;
    kind = oFILTERLIST::GetFilter(file, filter);
    if (kind == kFilterTypeNone || filter == nullptr) {
        NoteFailure(path, {FailureKind::kData, "not in a picture format that can be read"});
        return kLoadFailed;
    }
    CProgress progress(observer);
    filter->m_progress = &progress;
    filter->ClearFailure();
    oFILTER_STATUS status = kFilterFailed;
    try {
        if (kind == kFilterTypeVector) {
            status = filter->Convert(file, metafile);
        } else if (kind == kFilterTypeBitmap) {
            if (resolution_index == kAutomaticResolution) {
                int chosen = ChooseResolution(*filter, path);
                if (chosen >= 0) filter->SetResolution(chosen);
            } else if (filter->HasSeveralResolutions()) {
                filter->SetResolution(resolution_index);
            }  // else: beyond the one resolution of its own, so ignored
            file.MoveFromStart(0);
            status = filter->Convert(file, dib);
        } else if (kind == kFilterTypeEps) {
            status = filter->Convert(file, dib);
        }
    } catch (const std::bad_alloc&) {
        NoteFailure(path,
                    {FailureKind::kResource, std::string(filter->GetID()) + ": out of memory"});
        status = kFilterFailed;
    }
    if (status != kFilterDone && status != kFilterInterrupted && !g_lastFailure.IsSet()) {
        NoteFailure(path, ConversionFailure(*filter));
    }
    filter->SetResolution(-1);
    filter->m_progress = nullptr;
    file.Close();
    return StatusToLoadResult(status);
}

Rect FitToBox(int32_t source_width, int32_t source_height, int32_t box_width, int32_t box_height) {
    if (int64_t(source_width) * box_height > int64_t(source_height) * box_width) {
        return {0, 0, box_width, MulDiv(source_height, box_width, source_width)};
    }
    return {0, 0, MulDiv(source_width, box_height, source_height), box_height};
}

vSIZE RenderPicture(oDIB& target, int kind, const oDIB& dib, const vMETAFILE& metafile) {
    FillRect(target, {0, 0, target.Width(), target.Height()}, kWhite);
    vDEVICE device(target);
    if (kind == kFilterTypeVector) {
        Rect fitted = FitToBox(metafile.m_cx, metafile.m_cy, target.Width(), target.Height());
        if (fitted.Width() > 0 && fitted.Height() > 0 && metafile.m_x1 != metafile.m_x0 &&
            metafile.m_y1 != metafile.m_y0) {
            device.DrawMetafile(metafile, fitted);
        }
        return {fitted.Width(), fitted.Height()};
    }
    if (kind == kFilterTypeBitmap || kind == kFilterTypeEps) {
        Rect fitted = FitToBox(dib.Width(), dib.Height(), target.Width(), target.Height());
        if (!fitted.IsEmpty() && dib.Width() != 0 && dib.Height() != 0) {
            device.DrawDIB(dib, {dib.Width(), dib.Height(), fitted, 5});
        }
        return {fitted.Width(), fitted.Height()};
    }
    return {0, 0};
}

int WritePicture(const std::string& path, const std::string& id, const oDIB* dib,
                 const vMETAFILE* metafile) {
    g_lastFailure = {};
    errno = 0;
    vFILE file(path, vFILE::kModeCreate);
    int open_error = errno;
    oFILTER* filter = oFILTERLIST::FindByID(id);
    if (filter == nullptr || !filter->DoesExport()) {
        NoteFailure(path, {FailureKind::kData, "no filter writes the format " + id});
        return kFilterCannotCreate;
    }
    if (file.Error()) {
        NoteFailure(path, {FailureKind::kResource, "cannot create: " + OpenErrorText(open_error)});
        return kFilterCannotCreate;
    }
    oPROGRESS progress;
    filter->m_progress = &progress;
    filter->ClearFailure();
    oFILTER_STATUS status = kFilterCannotCreate;
    try {
        if (filter->Type() == kFilterTypeVector && metafile != nullptr) {
            status = filter->Convert(*metafile, file);
        } else if (filter->Type() == kFilterTypeBitmap && dib != nullptr) {
            status = filter->Convert(*dib, file);
        }
    } catch (const std::bad_alloc&) {
        NoteFailure(path,
                    {FailureKind::kResource, std::string(filter->GetID()) + ": out of memory"});
        status = kFilterFailed;
    }
    filter->m_progress = nullptr;
    if (status == kFilterDone && !file.Commit()) {
        NoteFailure(path, {FailureKind::kResource, "cannot write the file"});
        status = kFilterCannotCreate;
    } else if (status != kFilterDone && !g_lastFailure.IsSet()) {
        NoteFailure(path, ConversionFailure(*filter));
    }
    return status;
}

bool LoadBitmapFile(const std::string& name, oDIB& target) {
    constexpr size_t kFileHeaderBytes = 14;
    constexpr uint32_t kMaxTableEntries = 256;
    std::string path = name.find('/') == std::string::npos ? FindProgramFile(name) : name;
    if (path.empty()) return false;
    vFILE file(path, vFILE::kModeRead);
    if (file.Error()) return false;
    uint8_t head[kFileHeaderBytes + kBitmapInfoHeaderBytes];
    if (!file.ReadExact(head, sizeof head)) return false;
    auto header = ReadBitmapInfoHeader({head + kFileHeaderBytes, kBitmapInfoHeaderBytes});
    if (!header || header->width <= 0 || header->height <= 0) return false;
    uint32_t entries = header->bit_count == 1   ? 2
                       : header->bit_count == 4 ? 16
                       : header->bit_count == 8 ? 256
                                                : 0;
    if (header->clr_used != 0) entries = header->clr_used;
    entries = std::min(entries, kMaxTableEntries);
    uint64_t bits_bytes = DibStride(header->width, header->bit_count) * uint64_t(header->height);
    if (bits_bytes > oDIB::kMaxBytes) return false;
    // Rebuild a packed DIB: this header (compression kept), the table as read, then the bits.
    header->clr_used = entries;
    std::vector<uint8_t> packed;
    AppendBitmapInfoHeader(packed, *header);
    packed.resize(kBitmapInfoHeaderBytes + size_t(entries) * 4 + size_t(bits_bytes));
    if (!file.ReadExact(packed.data() + kBitmapInfoHeaderBytes,
                        packed.size() - kBitmapInfoHeaderBytes)) {
        return false;
    }
    auto dib = oDIB::FromPackedDib(packed);
    if (!dib) return false;
    target = std::move(*dib);
    return true;
}

}  // namespace scopa
