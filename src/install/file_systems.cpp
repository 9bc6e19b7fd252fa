#include "install/file_systems.hpp"

#include "install/command.hpp"

namespace install {

std::expected<void, std::string> make_file_systems(const std::string& root,
                                                   const std::optional<std::string>& boot,
                                                   const std::optional<std::string>& esp) {
    if (auto r = run({"mkfs.ext4", "-F", "-q", "-L", "tavix-root", root}); !r) return r;
    if (boot) {
        if (auto r = run({"mkfs.ext4", "-F", "-q", "-L", "tavix-boot", *boot}); !r) return r;
    }
    if (esp) {
        if (auto r = run({"mkfs.vfat", "-F", "32", "-n", "EFI", *esp}); !r) return r;
    }
    return {};
}

} // namespace install
