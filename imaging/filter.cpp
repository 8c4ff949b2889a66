#include "imaging/filter.h"

#include <algorithm>

#include "imaging/codecs.h"

namespace scopa {

oFILTER_STATUS oFILTER::Convert(vSTREAM&, oDIB&) {
    return kFilterFailed;
}
oFILTER_STATUS oFILTER::Convert(vSTREAM&, vMETAFILE&) {
    return kFilterFailed;
}
oFILTER_STATUS oFILTER::Convert(const oDIB&, vSTREAM&) {
    return kFilterFailed;
}
oFILTER_STATUS oFILTER::Convert(const vMETAFILE&, vSTREAM&) {
    return kFilterFailed;
}
bool oFILTER::ReadPictureSize(vSTREAM&, vSIZE&) {
    return false;
}

std::vector<int> OfferedReductionFactors(vSIZE size, int max_factor) {
    std::vector<int> factors{1};
    int32_t longer = std::max(size.cx, size.cy);
    for (int factor = 2; factor <= max_factor; factor *= 2) {
        if ((longer + factor - 1) / factor < kSmallestOfferedSidePx) break;
        factors.push_back(factor);
    }
    return factors;
}

vSIZE ReducedSize(vSIZE size, int factor) {
    return {int32_t((int64_t(size.cx) + factor - 1) / factor),
            int32_t((int64_t(size.cy) + factor - 1) / factor)};
}

int oFILTER::GetResolutionCount(const std::string& path) {
    vFILE file(path, vFILE::kModeRead);
    if (file.Error()) {
        m_factors.clear();
        m_sizes.clear();
        return 0;
    }
    return GetResolutionCount(file);
}

int oFILTER::GetResolutionCount(vSTREAM& in) {
    m_factors.clear();
    m_sizes.clear();
    vSIZE size;
    if (!ReadPictureSize(in, size) || size.cx <= 0 || size.cy <= 0) return 0;
    m_factors = OfferedReductionFactors(size, MaxReductionFactor());
    for (int factor : m_factors)
        m_sizes.push_back(ReducedSize(size, factor));
    return int(m_sizes.size());
}

vSIZE oFILTER::GetResolution(int index) const {
    if (index < 0 || size_t(index) >= m_sizes.size()) return {};
    return m_sizes[size_t(index)];
}

int oFILTER::TakeReductionFactor(vSIZE size) {
    int index = m_resolutionIndex;
    m_resolutionIndex = -1;
    std::vector<int> factors = OfferedReductionFactors(size, MaxReductionFactor());
    if (index < 0 || size_t(index) >= factors.size()) return 1;
    return factors[size_t(index)];
}

oFILTER_STATUS oFILTER::DataFault(std::string text) {
    m_failure = {FailureKind::kData, std::move(text)};
    return kFilterFailed;
}

oFILTER_STATUS oFILTER::ResourceFault(std::string text) {
    m_failure = {FailureKind::kResource, std::move(text)};
    return kFilterFailed;
}

oFILTER_STATUS oFILTER::TooLargeFault(vSIZE size) {
    return ResourceFault(std::to_string(size.cx) + " x " + std::to_string(size.cy) +
                         " pixels is beyond the reading limit");
}

oFILTER_STATUS oFILTER::NoMemoryFault(vSIZE size, int factor) {
    vSIZE reduced = ReducedSize(size, factor);
    return ResourceFault("no memory for a " + std::to_string(reduced.cx) + " x " +
                         std::to_string(reduced.cy) + " bitmap");
}

oFILTER_STATUS oFILTER::Adopt(const oFILTER& inner, oFILTER_STATUS status) {
    if (status == kFilterFailed && inner.LastFailure().IsSet()) m_failure = inner.LastFailure();
    return status;
}

void oFILTER::ReportStart(uint32_t full_scale) {
    if (m_progress == nullptr) return;
    m_progress->oStart();
    m_progress->oFullScale(full_scale);
}

bool oFILTER::ReportProgress(uint32_t value) {
    if (m_progress == nullptr) return true;
    m_progress->oUpdate(value);
    return m_progress->oInterrupted() == 0;
}

void oFILTER::ReportEnd() {
    if (m_progress != nullptr) m_progress->oEnd();
}

namespace {

// Filters keep per-read state (the chosen resolution, the progress target), so every thread
// that reads pictures has its own set.
std::vector<std::unique_ptr<oFILTER>>& Filters() {
    thread_local std::vector<std::unique_ptr<oFILTER>> filters = MakeAllFilters();
    return filters;
}

}  // namespace

uint16_t oFILTERLIST::GetNoItems() {
    return uint16_t(Filters().size());
}

oFILTER& oFILTERLIST::operator[](int index) const {
    return *Filters()[size_t(index)];
}

oFILTER_TYPE oFILTERLIST::GetFilter(vSTREAM& stream, oFILTER*& filter) {
    filter = nullptr;
    uint64_t start = stream.Tell();
    uint8_t head[kSniffBytes];
    size_t count = stream.Read(head, sizeof head);
    stream.Seek(start);
    for (auto& candidate : Filters()) {
        if (candidate->DoesImport() && candidate->CheckStream({head, count})) {
            filter = candidate.get();
            return candidate->Type();
        }
    }
    return kFilterTypeNone;
}

oFILTER* oFILTERLIST::FindByID(const std::string& id) {
    for (auto& candidate : Filters()) {
        if (id == candidate->GetID()) return candidate.get();
    }
    return nullptr;
}

}  // namespace scopa
