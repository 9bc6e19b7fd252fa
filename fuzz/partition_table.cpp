// A disk image from a hostile USB stick: its GPT (512- and 4096-byte
// sectors), its MBR with the chain of logical boot records, and the table
// step of the disk enumeration over both. Run with a malloc limit and a
// time-out, so that an allocation sized by a header field or a chain that
// never ends shows up as a crash.
#include "disks/disks.hpp"
#include "disks/table.hpp"
#include "fuzz_input.hpp"

#include <cstdlib>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

std::uint32_t le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// Mutations almost never get a checksum right: the same image with the
// checksums of the header at `lba` (and of the entry array it names, where
// that lies inside the image) made to match, so the code behind the
// checksum tests is reached too.
std::vector<std::uint8_t> with_checksums(std::vector<std::uint8_t> img, std::uint64_t sector, std::uint64_t lba) {
    const std::uint64_t at = lba * sector;
    if (img.size() < at + 92) return img;
    std::uint8_t* h = &img[at];
    const std::uint64_t entries = std::uint64_t(le32(h + 72)) | std::uint64_t(le32(h + 76)) << 32;
    const std::uint64_t bytes = std::uint64_t(le32(h + 80)) * le32(h + 84);
    if (entries < img.size() / sector && bytes <= img.size() - entries * sector)
        put32(h + 88, std::uint32_t(::crc32(0, &img[entries * sector], uInt(bytes))));
    const std::uint32_t hsize = le32(h + 12);
    if (hsize >= 92 && hsize <= sector && at + hsize <= img.size()) {
        put32(h + 16, 0);
        put32(h + 16, std::uint32_t(::crc32(0, h, hsize)));
    }
    return img;
}

void read_all(const std::uint8_t* data, std::size_t size) {
    fuzz::InputFd in(data, size);
    if (!in) return;
    const int fd = in.fd();
    for (std::uint64_t sector : {512u, 4096u}) {
        if (auto g = disks::read_gpt(fd, sector)) {
            // A table taken as sound describes itself inside the image.
            if (g->backup_lba == 0 || (g->backup_lba + 1) * sector > size) std::abort();
            if (g->entries.size() * std::uint64_t(g->entry_size) > size) std::abort();
        }
        (void)disks::read_mbr(fd, sector);
    }
    (void)disks::find_gpt(fd);
    for (std::uint64_t sector : {512u, 4096u}) {
        if (::lseek(fd, 0, SEEK_SET) != 0) std::abort();
        (void)disks::read_table_layout(fd, "/dev/fuzz0", sector);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    read_all(data, size);
    const std::vector<std::uint8_t> image(data, data + size);
    for (std::uint64_t sector : {512u, 4096u}) {
        auto fixed = with_checksums(image, sector, 1);
        if (sector <= fixed.size()) fixed = with_checksums(fixed, sector, fixed.size() / sector - 1);
        if (fixed != image) read_all(fixed.data(), fixed.size());
    }
    return 0;
}
