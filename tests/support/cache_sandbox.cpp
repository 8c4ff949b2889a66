#include "support/cache_sandbox.h"

#include <string>
#include <string_view>
#include <utility>

namespace scopa::test {

CacheSandbox::CacheSandbox(CPreviewCacheManager::VolumeLabelSource labels) {
    CPreviewCacheManager::Destroy();
    if (!labels) labels = [](std::string_view) { return std::string(); };
    CPreviewCacheManager::SetVolumeLabelSource(std::move(labels));
}

CacheSandbox::~CacheSandbox() {
    CPreviewCacheManager::Destroy();
    CPreviewCacheManager::SetVolumeLabelSource({});
}

}  // namespace scopa::test
