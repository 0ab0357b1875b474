#pragma once
// A small tmpfs volume mounted on a folder for the scope, to run writes into
// a disk that is full or nearly full. Mounting needs root (CAP_SYS_ADMIN);
// where it is refused, Mounted() is false and the test skips.

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

class TSmallVolume {
public:
    TSmallVolume(const std::string& folder, std::uint64_t bytes) : Folder(folder) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        FMounted =
            ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~TSmallVolume() {
        if (FMounted) {
            ::umount2(Folder.c_str(), MNT_DETACH);
        }
    }
    TSmallVolume(const TSmallVolume&) = delete;
    TSmallVolume& operator=(const TSmallVolume&) = delete;

    bool Mounted() const { return FMounted; }

    std::uint64_t Available() const {
        struct statvfs volume {};
        return ::statvfs(Folder.c_str(), &volume) == 0
                   ? std::uint64_t{volume.f_bavail} * volume.f_frsize
                   : 0;
    }

    // Writes a file of zeros until the volume has no more than `leave` bytes
    // available (whole pages: tmpfs hands out space page by page).
    void FillLeaving(std::uint64_t leave, const std::string& name = "filler") {
        std::ofstream file(Folder + "/" + name, std::ios::binary | std::ios::app);
        const std::vector<char> page(4096, 0);
        while (Available() > leave && file.write(page.data(), page.size())) {
            file.flush();
        }
    }

    std::string Folder;

private:
    bool FMounted = false;
};
