// Tells cheaply whether the mount table changed, so that a list of volumes (and their labels)
// read once can be kept until a disk is mounted or unmounted. libmount's monitor watches the
// kernel's table of this process's mounts; asking costs one poll() on its descriptor.
#pragma once

struct libmnt_monitor;

namespace scopa {

class MountTableWatch {
public:
    MountTableWatch();
    ~MountTableWatch();
    MountTableWatch(const MountTableWatch&) = delete;
    MountTableWatch& operator=(const MountTableWatch&) = delete;

    // True at the first call and whenever the mount table changed since the previous call;
    // always true when the mount table cannot be watched.
    bool Changed();

private:
    libmnt_monitor* m_monitor = nullptr;
    int m_fd = -1;
    bool m_first = true;
};

}  // namespace scopa
