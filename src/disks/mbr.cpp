#include "disks/io.hpp"
#include "disks/table.hpp"

#include <algorithm>
#include <cerrno>
#include <set>
#include <unistd.h>

namespace disks {

using namespace io;

namespace {

// A chain longer than this is treated as a loop or garbage.
constexpr std::size_t MAX_LOGICALS = 256;

MbrEntry decode(const std::uint8_t* e) {
    MbrEntry m;
    m.boot = e[0];
    std::copy_n(e + 1, 3, m.chs_first.begin());
    m.type = e[4];
    std::copy_n(e + 5, 3, m.chs_last.begin());
    m.start = le32(e + 8);
    m.count = le32(e + 12);
    return m;
}

void encode(std::uint8_t* e, const MbrEntry& m) {
    e[0] = m.boot;
    std::copy(m.chs_first.begin(), m.chs_first.end(), e + 1);
    e[4] = m.type;
    std::copy(m.chs_last.begin(), m.chs_last.end(), e + 5);
    put32(e + 8, m.start);
    put32(e + 12, m.count);
}

// A file-system boot sector (FAT, NTFS, exFAT) on the whole device carries
// the same signature; with every slot empty it is not a partition table.
bool looks_like_boot_record(const std::uint8_t* sec) {
    for (int i = 0; i < 4; ++i)
        if (sec[446 + 16 * i + 4] != 0) return false;
    bool jump = (sec[0] == 0xEB && sec[2] == 0x90) || sec[0] == 0xE9;
    std::uint16_t bps = le16(sec + 11);
    bool bpb = bps >= 512 && bps <= 4096 && (bps & (bps - 1)) == 0;
    bool exfat = std::equal(sec + 3, sec + 11, "EXFAT   ");
    return jump && (bpb || exfat);
}

bool boot_flags_sane(const std::uint8_t* sec) {
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = sec[446 + 16 * i];
        if (b != 0x00 && b != 0x80) return false;
    }
    return true;
}

std::uint64_t next_multiple_above(std::uint64_t a, std::uint64_t align) { return (a / align + 1) * align; }

void regions_between(std::vector<std::uint64_t> b, std::uint64_t align,
                     std::vector<std::pair<std::uint64_t, std::uint64_t>>& out) {
    std::sort(b.begin(), b.end());
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        std::uint64_t s = next_multiple_above(b[i], align);
        if (s < b[i + 1]) out.emplace_back(s, b[i + 1] - s);
    }
}

} // namespace

bool is_extended_type(std::uint8_t t) { return t == 0x05 || t == 0x0F || t == 0x85 || t == 0xC5 || t == 0xD5; }

std::optional<std::size_t> Mbr::extended_slot() const {
    for (std::size_t i = 0; i < 4; ++i)
        if (is_extended_type(primary[i].type)) return i;
    return std::nullopt;
}

std::uint64_t Mbr::alignment() const {
    const std::uint64_t cap = std::max<std::uint64_t>(1, (1u << 20) / std::max<std::uint64_t>(1, sector_size));
    std::uint64_t align = cap;
    auto fit = [&](std::uint64_t start) {
        while (align > 1 && start % align != 0) align /= 2;
    };
    for (const auto& p : primary)
        if (p.type != 0) fit(p.start);
    for (const auto& l : logicals)
        if (l.entry.type != 0) fit(l.start());
    return align;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> Mbr::free_regions() const {
    const std::uint64_t align = alignment();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    std::vector<std::uint64_t> b{0};
    for (const auto& p : primary) {
        if (p.type == 0) continue;
        b.push_back(p.start);
        b.push_back(std::uint64_t(p.start) + p.count - 1);
    }
    b.push_back(disk_sectors);
    regions_between(std::move(b), align, out);
    if (auto slot = extended_slot()) {
        const auto& ext = primary[*slot];
        std::vector<std::uint64_t> inner{ext.start};
        for (const auto& l : logicals) {
            if (l.entry.type == 0) continue;
            inner.push_back(l.start());
            inner.push_back(l.last());
        }
        inner.push_back(std::uint64_t(ext.start) + ext.count);
        regions_between(std::move(inner), align, out);
    }
    return out;
}

std::expected<void, std::string> Mbr::push_logical(std::uint8_t type, std::uint64_t start, std::uint64_t count) {
    auto slot = extended_slot();
    if (!slot) return std::unexpected(std::string("no extended partition"));
    const std::uint64_t ext_start = primary[*slot].start;
    const std::uint64_t ext_end = ext_start + primary[*slot].count; // exclusive
    if (count == 0 || start < ext_start || start >= ext_end || count > ext_end - start)
        return std::unexpected(std::string("range outside the extended partition"));
    auto occupied = [&](std::uint64_t sector) {
        if (sector == ext_start) return true; // the chain's head record
        for (const auto& l : logicals) {
            if (l.ebr == sector) return true;
            if (l.entry.type != 0 && sector >= l.start() && sector <= l.last()) return true;
        }
        return false;
    };
    // The record goes in front of the partition, never into it: a partition
    // that moved to make room would not be the one asked for.
    auto no_room = [&] {
        return std::unexpected("no room for the extended boot record in front of sector " + std::to_string(start));
    };
    std::uint64_t ebr;
    if (logicals.empty()) {
        ebr = ext_start;
        if (start == ext_start) return no_room();
    } else if (start > ext_start + 1 && !occupied(start - 1)) {
        ebr = start - 1;
    } else {
        return no_room();
    }
    if (start - ebr > 0xFFFFFFFFu || count > 0xFFFFFFFFu)
        return std::unexpected(std::string("range not expressible in the extended chain"));
    MbrLogical l;
    l.ebr = ebr;
    l.entry.type = type;
    l.entry.start = std::uint32_t(start - ebr);
    l.entry.count = std::uint32_t(count);
    logicals.push_back(l);
    return {};
}

bool Mbr::remove_logical(std::uint32_t number) {
    if (number < 5 || number - 5 >= logicals.size()) return false;
    std::size_t i = number - 5;
    const std::uint64_t head = logicals.front().ebr;
    logicals.erase(logicals.begin() + std::ptrdiff_t(i));
    // The container's first sector must keep describing the chain's head.
    if (i == 0 && !logicals.empty()) {
        auto& first = logicals.front();
        const std::uint64_t abs = first.start();
        first.ebr = head;
        first.entry.start = std::uint32_t(abs - head);
    }
    return true;
}

std::expected<Mbr, std::string> read_mbr(int fd, std::uint64_t sector_size) {
    if (sector_size < 512) return std::unexpected(std::string("bad sector size"));
    auto size = device_bytes(fd);
    if (!size) return std::unexpected(size.error());
    Mbr m;
    m.sector_size = sector_size;
    m.disk_sectors = *size / sector_size;
    if (m.disk_sectors == 0) return std::unexpected(std::string("device too small"));
    if (auto r = read_at(fd, m.sector0.data(), m.sector0.size(), 0); !r) return std::unexpected(r.error());
    if (m.sector0[510] != 0x55 || m.sector0[511] != 0xAA) return std::unexpected(std::string("no MBR signature"));
    if (!boot_flags_sane(m.sector0.data()) || looks_like_boot_record(m.sector0.data()))
        return std::unexpected(std::string("not a partition table"));
    for (int i = 0; i < 4; ++i) m.primary[i] = decode(&m.sector0[446 + 16 * i]);
    for (const auto& p : m.primary)
        if (p.type == 0xEE) return std::unexpected(std::string("protective MBR of a GPT disk"));

    if (auto slot = m.extended_slot()) {
        const std::uint64_t ext_start = m.primary[*slot].start;
        const std::uint64_t ext_end = ext_start + m.primary[*slot].count;
        std::uint64_t ebr = ext_start;
        std::set<std::uint64_t> seen;
        while (ebr >= ext_start && ebr < ext_end && ebr < m.disk_sectors && seen.insert(ebr).second &&
               m.logicals.size() < MAX_LOGICALS) {
            std::array<std::uint8_t, 512> sec{};
            if (!read_at(fd, sec.data(), sec.size(), ebr * sector_size)) break;
            if (sec[510] != 0x55 || sec[511] != 0xAA) break;
            MbrEntry first = decode(&sec[446]);
            MbrEntry link = decode(&sec[462]);
            if (first.type != 0 && first.count != 0) m.logicals.push_back(MbrLogical{first, ebr});
            if (link.type == 0 || !is_extended_type(link.type) || link.start == 0) break;
            ebr = ext_start + link.start;
        }
    }
    return m;
}

std::expected<void, std::string> write_mbr(int fd, const Mbr& m) {
    std::array<std::uint8_t, 512> sec = m.sector0;
    for (int i = 0; i < 4; ++i) encode(&sec[446 + 16 * i], m.primary[i]);
    sec[510] = 0x55;
    sec[511] = 0xAA;
    const std::uint64_t S = m.sector_size;

    if (auto slot = m.extended_slot()) {
        const std::uint64_t ext_start = m.primary[*slot].start;
        if (m.logicals.empty()) {
            // An empty chain: a head record with no entries.
            std::array<std::uint8_t, 512> ebr{};
            ebr[510] = 0x55;
            ebr[511] = 0xAA;
            if (auto r = write_at(fd, ebr.data(), ebr.size(), ext_start * S); !r) return r;
        }
        for (std::size_t i = 0; i < m.logicals.size(); ++i) {
            const auto& l = m.logicals[i];
            std::array<std::uint8_t, 512> ebr{};
            encode(&ebr[446], l.entry);
            if (i + 1 < m.logicals.size()) {
                const auto& n = m.logicals[i + 1];
                MbrEntry link;
                link.type = 0x05;
                link.start = std::uint32_t(n.ebr - ext_start);
                link.count = std::uint32_t(n.start() + n.entry.count - n.ebr);
                encode(&ebr[462], link);
            }
            ebr[510] = 0x55;
            ebr[511] = 0xAA;
            if (auto r = write_at(fd, ebr.data(), ebr.size(), l.ebr * S); !r) return r;
        }
    }
    if (auto r = write_at(fd, sec.data(), sec.size(), 0); !r) return r;
    if (::fsync(fd) != 0 && errno != EINVAL) return std::unexpected(errno_text(errno));
    return {};
}

} // namespace disks
