// Static caches made in one go: every picture under a root folder is rendered into a compressed
// read-only cache, which is added to the cache manager and registered so that every later run
// finds it. Pictures are decoded on worker threads; records are still added, written and
// reported one by one in the order of the folder walk, so the result and the feedback do not
// depend on how many workers ran.
#pragma once

#include <functional>
#include <string>

#include "platform/ordered_workers.h"

namespace scopa {

// Feedback of CreateStaticCache, one text per event, in order.
using StaticCacheFeedback = std::function<void(const std::string& text)>;

// Makes a compressed read-only cache CACHE.pvi / CACHE.pvd of every picture under
// `root_folder_path`, adds it to the cache manager (made if need be) and registers it under
// HKEY_LOCAL_MACHINE. An existing cache of that name is replaced: the new one holds only the
// thumbnails of this run. It is built as CACHE.building.pvi / .pvd and renamed into place at
// the end; when its index cannot be written ("Preview Index: Write failure\r"), or the run is
// killed, the old cache and its registration stay as they were. Folders are walked depth first,
// names in byte order; linked folders are not followed. Pictures are decoded on `worker_count`
// threads (0: on the calling thread). False only when the data file cannot be created.
bool CreateStaticCache(const std::string& cache_path_name, const std::string& root_folder_path,
                       const StaticCacheFeedback& on_feedback,
                       int worker_count = kOneWorkerPerCore);

// Registers a static cache (replacing a registration of the same index path, any letter
// case) under the first free "Cache%d" name at or above the process's counter. False when
// the registry key cannot be opened or written.
bool RegisterStaticCache(const std::string& index_path, const std::string& data_path,
                         const std::string& root_folder_path);

}  // namespace scopa
