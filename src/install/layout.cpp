#include "install/layout.hpp"

#include "disks/disks.hpp"
#include "disks/edit.hpp"
#include "disks/io.hpp"
#include "disks/table.hpp"
#include "install/command.hpp"
#include "install/boot_platform.hpp"
#include "install/encryption.hpp"
#include "install/mounts.hpp"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace install {

namespace {

using disks::Gpt;
using disks::GptEntry;

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

GptEntry new_entry(std::string_view type, std::uint64_t first, std::uint64_t last, std::string_view name,
                   std::uint32_t entry_size) {
    GptEntry e;
    e.type = *disks::parse_guid(type);
    e.unique = disks::clock_guid();
    e.first_lba = first;
    e.last_lba = last;
    e.attributes = 0;
    e.set_name(name);
    e.tail.assign(entry_size > 128 ? entry_size - 128 : 0, 0);
    return e;
}

std::expected<TargetLayout, std::string> whole_disk(disks::File file, const std::string& disk, bool encrypt,
                                                    const std::string& password) {
    const platform::BootScheme scheme = platform::detect_boot_scheme();
    const bool efi = scheme == platform::BootScheme::Efi;
    if (auto r = release_disk(file, disk); !r) return std::unexpected(r.error());
    if (auto r = disks::wipe(file, disk); !r) return std::unexpected(r.error());

    std::uint32_t root_entry = 0, boot_entry = 0;
    {
        const int fd = file.get();
        const std::uint64_t lbs = disks::logical_block_size(disk);
        auto bytes = disks::device_bytes(fd);
        if (!bytes) return std::unexpected("new gpt on " + disk + ": " + bytes.error());
        auto gpt = Gpt::create(*bytes, lbs, disks::clock_guid());
        if (!gpt) return std::unexpected("new gpt on " + disk + ": " + gpt.error());

        const std::uint64_t L = gpt->last_usable;
        std::uint64_t next = (efi ? EFI_FIRST_START : UBOOT_FIRST_START) / lbs;
        std::uint32_t slot = 1;
        auto put = [&](std::string_view type, std::uint64_t first, std::uint64_t last, std::string_view name) {
            gpt->entries.at(slot - 1) = new_entry(type, first, last, name, gpt->entry_size);
            return slot++;
        };
        if (efi) {
            put(disks::EFI_SYSTEM_GUID, next, next + ESP_BYTES / lbs - 1, "esp");
            next += ESP_BYTES / lbs;
        }
        if (encrypt) {
            boot_entry = put(disks::LINUX_DATA_GUID, next, next + BOOT_BYTES / lbs - 1, "boot");
            next += BOOT_BYTES / lbs;
        }
        if (next >= L) return std::unexpected(disk + " is too small for an install");
        root_entry = put(disks::LINUX_DATA_GUID, next, L, "root");

        if (auto r = disks::write_protective_mbr(fd, lbs); !r)
            return std::unexpected("protective mbr on " + disk + ": " + r.error());
        if (auto r = disks::write_gpt(fd, *gpt); !r) return std::unexpected("gpt write on " + disk + ": " + r.error());
        (void)::fsync(fd);
    }
    file = disks::File(); // closed before the kernel is asked to re-read
    reread_partitions(disk);

    TargetLayout layout;
    if (efi) {
        layout.esp = disks::partition_path(disk, 1);
        if (auto r = wait_for_node(*layout.esp); !r) return std::unexpected(r.error());
    }
    const std::string root = disks::partition_path(disk, root_entry);
    if (auto r = wait_for_node(root); !r) return std::unexpected(r.error());
    layout.root = root;
    if (encrypt) {
        layout.boot = disks::partition_path(disk, boot_entry);
        if (auto r = wait_for_node(*layout.boot); !r) return std::unexpected(r.error());
        auto opened = setup_luks(root, password);
        if (!opened) return std::unexpected(opened.error());
        layout.root = *opened;
        layout.luks = root;
    }
    // On a U-Boot board the table is new too, but no ESP exists to format.
    layout.fresh_table = efi;
    return layout;
}

// Whether an encrypted layout's partitions fit the disk's MBR, if it has one.
// `needed` primary slots must be free unless the range lies inside the
// extended partition, where the new partitions become logical ones.
std::expected<void, std::string> check_mbr_slots(const std::string& disk, std::uint64_t start,
                                                 std::uint64_t size, std::uint32_t needed) {
    if (auto ext = disks::extended_range(disk)) {
        const auto [ext_start, ext_size] = *ext;
        if (ext_start <= start && start + size <= ext_start + ext_size) return {};
    }
    if (auto free = disks::mbr_free_primaries(disk); free && *free < needed)
        return std::unexpected(std::string(
            "the MBR partition table is full; encryption needs room for a /boot partition"));
    return {};
}

// The /boot and root ranges of an encrypted install in [start, start + size).
// Inside an MBR extended partition the root, a logical partition right after
// another, needs a free sector in front of it for its boot record: it starts
// 1 MiB later, which keeps it aligned.
std::expected<std::vector<disks::NewPartition>, std::string> encrypted_ranges(const std::string& disk,
                                                                              std::uint64_t start,
                                                                              std::uint64_t size) {
    if (size <= MIN_ENCRYPTED_REGION) return std::unexpected(std::string("target region too small for an encrypted install"));
    std::uint64_t root_start = start + BOOT_BYTES;
    if (auto ext = disks::extended_range(disk); ext && ext->first <= start && start - ext->first < ext->second)
        root_start += MIB;
    return std::vector<disks::NewPartition>{{start, BOOT_BYTES}, {root_start, start + size - root_start}};
}

// Deletes `numbers` and lays out the encrypted region in one table write,
// after every condition was checked; then opens the container.
std::expected<TargetLayout, std::string> encrypted_region(disks::File file, const std::string& disk,
                                                          const std::vector<std::uint32_t>& numbers,
                                                          std::uint64_t start, std::uint64_t size,
                                                          const std::string& password) {
    auto ranges = encrypted_ranges(disk, start, size);
    if (!ranges) return std::unexpected(ranges.error());
    auto made = disks::replace_partitions(file, disk, numbers, *ranges);
    if (!made) return std::unexpected(made.error());
    (void)::fsync(file.get());
    file = disks::File();
    reread_partitions(disk);
    const std::string boot = disks::partition_path(disk, (*made)[0]);
    const std::string root = disks::partition_path(disk, (*made)[1]);
    if (auto w = wait_for_node(boot); !w) return std::unexpected(w.error());
    if (auto w = wait_for_node(root); !w) return std::unexpected(w.error());
    auto opened = setup_luks(root, password);
    if (!opened) return std::unexpected(opened.error());
    TargetLayout layout;
    layout.root = *opened;
    layout.esp = find_esp(disk);
    layout.boot = boot;
    layout.luks = root;
    return layout;
}

std::expected<TargetLayout, std::string> existing_partition(disks::File file, const std::string& disk,
                                                            std::uint32_t n, bool encrypt,
                                                            const std::string& password) {
    const std::string node = disks::partition_path(disk, n);
    unmount_disk(node);
    if (!encrypt) {
        TargetLayout layout;
        layout.root = node;
        layout.esp = find_esp(disk);
        return layout;
    }
    auto range = disks::partition_range(file, disk, n);
    if (!range) return std::unexpected("partition " + std::to_string(n) + " not found on " + disk);
    const auto [start, size] = *range;
    if (auto r = check_mbr_slots(disk, start, size, 1); !r) return std::unexpected(r.error());
    // The partition is only deleted in the same write that creates the new
    // ones, so a refusal leaves it as it was.
    return encrypted_region(std::move(file), disk, {n}, start, size, password);
}

std::expected<TargetLayout, std::string> free_space(disks::File file, const std::string& disk, std::uint64_t start,
                                                    std::uint64_t size, bool encrypt,
                                                    const std::string& password) {
    if (encrypt) {
        if (auto r = check_mbr_slots(disk, start, size, 2); !r) return std::unexpected(r.error());
        return encrypted_region(std::move(file), disk, {}, start, size, password);
    }
    auto n = disks::create_partition(file, disk, start, size);
    if (!n) return std::unexpected(n.error());
    (void)::fsync(file.get());
    file = disks::File();
    reread_partitions(disk);
    const std::string node = disks::partition_path(disk, *n);
    if (auto r = wait_for_node(node); !r) return std::unexpected(r.error());
    TargetLayout layout;
    layout.root = node;
    layout.esp = find_esp(disk);
    return layout;
}

} // namespace

std::expected<TargetLayout, std::string> prepare_target(const ipc::InstallPlan& plan, bool encrypt,
                                                        const std::string& password) {
    const std::string disk = plan.disk.string();
    // Whatever the mode, the plan must name a whole disk: a regular file, a
    // character device or a partition named here is never written to.
    auto file = disks::open_whole_disk(disk);
    if (!file) return std::unexpected(file.error());
    return std::visit(Overloaded{
                          [&](const ipc::TargetMode::WholeDisk&) {
                              return whole_disk(std::move(*file), disk, encrypt, password);
                          },
                          [&](const ipc::TargetMode::Partition& p) {
                              return existing_partition(std::move(*file), disk, p.number, encrypt, password);
                          },
                          [&](const ipc::TargetMode::FreeSpace& f) {
                              return free_space(std::move(*file), disk, f.start, f.size, encrypt, password);
                          },
                      },
                      plan.mode.kind);
}

std::expected<TargetLayout, std::string> layout_encrypted_region(const std::string& disk, std::uint64_t start,
                                                                 std::uint64_t size, const std::string& password) {
    auto file = disks::open_whole_disk(disk);
    if (!file) return std::unexpected(file.error());
    return encrypted_region(std::move(*file), disk, {}, start, size, password);
}

std::optional<std::string> find_esp(const std::string& disk) {
    const int fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    disks::File file(fd);
    if (auto gpt = disks::find_gpt(fd)) {
        const auto esp_type = *disks::parse_guid(disks::EFI_SYSTEM_GUID);
        for (std::size_t i = 0; i < gpt->entries.size(); ++i) {
            const auto& e = gpt->entries[i];
            if (e.used() && e.type == esp_type) return disks::partition_path(disk, std::uint32_t(i + 1));
        }
        return std::nullopt;
    }
    auto mbr = disks::read_mbr(fd, disks::logical_block_size(disk));
    if (!mbr) return std::nullopt;
    for (std::uint32_t i = 0; i < 4; ++i)
        if (mbr->primary[i].type == 0xEF) return disks::partition_path(disk, i + 1);
    for (std::size_t i = 0; i < mbr->logicals.size(); ++i)
        if (mbr->logicals[i].entry.type == 0xEF) return disks::partition_path(disk, std::uint32_t(5 + i));
    return std::nullopt;
}

void reread_partitions(const std::string& disk) {
    auto r = run({"blockdev", "--rereadpt", disk});
    if (r) return;
    std::fprintf(stderr, "install: rereadpt %s: %s\n", disk.c_str(), r.error().c_str());
    // The kernel refuses a whole re-read while a partition of the disk is in
    // use (EBUSY), and devices without partition scanning refuse it outright;
    // partx adds and updates the nodes one by one in either case.
    if (auto p = run({"partx", "-u", disk}); !p)
        std::fprintf(stderr, "install: partx -u %s: %s\n", disk.c_str(), p.error().c_str());
}

} // namespace install
