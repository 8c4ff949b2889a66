#include "platform/mount_watch.h"

#include <poll.h>

#include "platform/loaded_libraries.h"

namespace scopa {

MountTableWatch::MountTableWatch() = default;

MountTableWatch::~MountTableWatch() {
    if (m_monitor != nullptr) Mount().unref_monitor(m_monitor);
}

bool MountTableWatch::Changed() {
    if (m_first) {
        // The monitor (and libmount) is set up at the first question, not with the owner.
        m_first = false;
        if (LoadMount()) m_monitor = Mount().new_monitor();
        if (m_monitor != nullptr && Mount().monitor_enable_kernel(m_monitor, 1) == 0) {
            m_fd = Mount().monitor_get_fd(m_monitor);
        }
        return true;
    }
    if (m_fd < 0) return true;
    bool changed = false;
    pollfd watch{m_fd, POLLIN, 0};
    if (poll(&watch, 1, 0) > 0) {
        // Every waiting change is taken, so that the descriptor wakes only at the next one.
        while (Mount().monitor_next_change(m_monitor, nullptr, nullptr) == 0)
            changed = true;
    }
    return changed;
}

}  // namespace scopa
