#include "platform/mount_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace scopa {

MountTableWatch::MountTableWatch() {
    m_fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
}

MountTableWatch::~MountTableWatch() {
    if (m_fd >= 0) close(m_fd);
}

bool MountTableWatch::Changed() {
    if (m_fd < 0) return true;
    // The kernel reports POLLERR | POLLPRI once per change of the mount table and records
    // the change as seen, so no read is needed to re-arm the watch.
    pollfd watch{m_fd, POLLPRI, 0};
    bool changed = poll(&watch, 1, 0) > 0 && (watch.revents & (POLLERR | POLLPRI)) != 0;
    if (m_first) {
        m_first = false;
        return true;
    }
    return changed;
}

}  // namespace scopa
