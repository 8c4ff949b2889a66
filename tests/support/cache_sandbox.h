// A sandboxed environment in which the preview cache manager starts afresh and is destroyed
// again at the end, with volume labels from `labels` (by default no volume has one).
#pragma once

#include "cache/cache_manager.h"
#include "support/temp_dir.h"

namespace scopa::test {

class CacheSandbox : public SandboxedEnvironment {
public:
    explicit CacheSandbox(CPreviewCacheManager::VolumeLabelSource labels = {});
    ~CacheSandbox();
    CacheSandbox(const CacheSandbox&) = delete;
    CacheSandbox& operator=(const CacheSandbox&) = delete;
};

}  // namespace scopa::test
