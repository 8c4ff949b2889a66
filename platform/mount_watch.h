// Tells cheaply whether the mount table changed, so that a list of volumes (and their labels)
// read once can be kept until a disk is mounted or unmounted. The kernel marks
// /proc/self/mountinfo when the process's mount table changes; asking costs one poll().
#pragma once

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
    int m_fd = -1;
    bool m_first = true;
};

}  // namespace scopa
