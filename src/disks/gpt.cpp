#include "disks/io.hpp"
#include "disks/table.hpp"

#include <algorithm>
#include <cerrno>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <linux/fs.h>
#include <zlib.h>

namespace disks {

using namespace io;

namespace {

constexpr std::uint8_t SIGNATURE[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr std::uint32_t HEADER_SIZE = 92;
constexpr std::uint32_t REVISION = 0x00010000;
// Guard against absurd headers before allocating the entry array.
constexpr std::uint64_t MAX_ENTRY_ARRAY = 16u << 20;

std::uint32_t crc(const std::uint8_t* p, std::size_t n) {
    return std::uint32_t(::crc32(::crc32(0L, Z_NULL, 0), p, uInt(n)));
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Header {
    std::uint64_t my_lba, alternate_lba, first_usable, last_usable, entries_lba;
    Guid disk_guid;
    std::uint32_t num_entries, entry_size, entries_crc;
};

// Reads and checks the header at `lba`; on success also the entry array.
std::expected<std::pair<Header, std::vector<std::uint8_t>>, std::string>
load_header(int fd, std::uint64_t sector_size, std::uint64_t lba, std::uint64_t sectors) {
    std::vector<std::uint8_t> sec(sector_size);
    if (auto r = read_at(fd, sec.data(), sec.size(), lba * sector_size); !r) return std::unexpected(r.error());
    if (!std::equal(std::begin(SIGNATURE), std::end(SIGNATURE), sec.begin()))
        return std::unexpected(std::string("no GPT signature"));
    std::uint32_t hsize = le32(&sec[12]);
    if (hsize < HEADER_SIZE || hsize > sector_size) return std::unexpected(std::string("bad GPT header size"));
    std::uint32_t stored = le32(&sec[16]);
    put32(&sec[16], 0);
    if (crc(sec.data(), hsize) != stored) return std::unexpected(std::string("GPT header checksum mismatch"));
    Header h{};
    h.my_lba = le64(&sec[24]);
    h.alternate_lba = le64(&sec[32]);
    h.first_usable = le64(&sec[40]);
    h.last_usable = le64(&sec[48]);
    std::copy_n(&sec[56], 16, h.disk_guid.begin());
    h.entries_lba = le64(&sec[72]);
    h.num_entries = le32(&sec[80]);
    h.entry_size = le32(&sec[84]);
    h.entries_crc = le32(&sec[88]);
    if (h.my_lba != lba) return std::unexpected(std::string("GPT header at the wrong place"));
    if (h.entry_size < 128 || h.entry_size % 8 != 0) return std::unexpected(std::string("bad GPT entry size"));
    std::uint64_t bytes = std::uint64_t(h.num_entries) * h.entry_size;
    if (bytes == 0 || bytes > MAX_ENTRY_ARRAY) return std::unexpected(std::string("bad GPT entry count"));
    std::uint64_t array_sectors = (bytes + sector_size - 1) / sector_size;
    if (h.entries_lba < 2 || h.entries_lba >= sectors || array_sectors > sectors - h.entries_lba)
        return std::unexpected(std::string("GPT entry array outside the device"));
    if (h.first_usable > h.last_usable) return std::unexpected(std::string("bad GPT usable area"));
    std::vector<std::uint8_t> array(bytes);
    if (auto r = read_at(fd, array.data(), array.size(), h.entries_lba * sector_size); !r)
        return std::unexpected(r.error());
    if (crc(array.data(), array.size()) != h.entries_crc)
        return std::unexpected(std::string("GPT entry array checksum mismatch"));
    return std::pair{h, std::move(array)};
}

void encode_header(std::uint8_t* sec, const Gpt& g, std::uint64_t my, std::uint64_t alt, std::uint64_t entries_lba,
                   std::uint32_t entries_crc) {
    std::copy(std::begin(SIGNATURE), std::end(SIGNATURE), sec);
    put32(sec + 8, REVISION);
    put32(sec + 12, HEADER_SIZE);
    put32(sec + 16, 0);
    put32(sec + 20, 0);
    put64(sec + 24, my);
    put64(sec + 32, alt);
    put64(sec + 40, g.first_usable);
    put64(sec + 48, g.last_usable);
    std::copy(g.disk_guid.begin(), g.disk_guid.end(), sec + 56);
    put64(sec + 72, entries_lba);
    put32(sec + 80, std::uint32_t(g.entries.size()));
    put32(sec + 84, g.entry_size);
    put32(sec + 88, entries_crc);
    put32(sec + 16, crc(sec, HEADER_SIZE));
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

std::optional<Guid> parse_guid(std::string_view t) {
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return std::nullopt;
    std::array<std::uint8_t, 16> be{};
    std::size_t k = 0;
    for (std::size_t i = 0; i < t.size();) {
        if (t[i] == '-') {
            ++i;
            continue;
        }
        int a = hex(t[i]), b = hex(t[i + 1]);
        if (a < 0 || b < 0) return std::nullopt;
        be[k++] = std::uint8_t(a * 16 + b);
        i += 2;
    }
    Guid g = be;
    std::reverse(g.begin(), g.begin() + 4);
    std::reverse(g.begin() + 4, g.begin() + 6);
    std::reverse(g.begin() + 6, g.begin() + 8);
    return g;
}

std::string format_guid(const Guid& g) {
    Guid be = g;
    std::reverse(be.begin(), be.begin() + 4);
    std::reverse(be.begin() + 4, be.begin() + 6);
    std::reverse(be.begin() + 6, be.begin() + 8);
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[be[i] >> 4];
        out += digits[be[i] & 15];
    }
    return out;
}

std::expected<std::uint64_t, std::string> device_bytes(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::unexpected(errno_text(errno));
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t size = 0;
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0) return std::unexpected(errno_text(errno));
        return size;
    }
    return std::uint64_t(st.st_size);
}

bool GptEntry::used() const {
    return std::any_of(type.begin(), type.end(), [](std::uint8_t b) { return b != 0; });
}

std::string GptEntry::name() const {
    std::string out;
    for (std::size_t i = 0; i + 1 < raw_name.size(); i += 2) {
        char32_t u = le16(&raw_name[i]);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < raw_name.size()) {
            char32_t lo = le16(&raw_name[i + 2]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        append_utf8(out, u);
    }
    return out;
}

void GptEntry::set_name(std::string_view s) {
    raw_name.fill(0);
    std::size_t pos = 0, i = 0;
    auto put_unit = [&](char32_t u) {
        if (pos + 2 > raw_name.size()) return false;
        put16(&raw_name[pos], std::uint16_t(u));
        pos += 2;
        return true;
    };
    while (i < s.size()) {
        auto b = std::uint8_t(s[i]);
        char32_t c;
        std::size_t len;
        if (b < 0x80) c = b, len = 1;
        else if ((b >> 5) == 6) c = b & 0x1F, len = 2;
        else if ((b >> 4) == 14) c = b & 0x0F, len = 3;
        else if ((b >> 3) == 30) c = b & 0x07, len = 4;
        else c = 0xFFFD, len = 1;
        if (len > 1) {
            if (i + len > s.size()) c = 0xFFFD, len = 1;
            else
                for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (std::uint8_t(s[i + k]) & 0x3F);
        }
        i += len;
        if (c >= 0x10000) {
            if (pos + 4 > raw_name.size()) break;
            put_unit(0xD800 + ((c - 0x10000) >> 10));
            put_unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else if (!put_unit(c)) {
            break;
        }
    }
}

std::uint64_t Gpt::entry_array_sectors() const {
    std::uint64_t bytes = std::uint64_t(entries.size()) * entry_size;
    return (bytes + sector_size - 1) / sector_size;
}

std::expected<Gpt, std::string> Gpt::create(std::uint64_t dev_bytes, std::uint64_t sector_size, const Guid& disk_guid) {
    if (sector_size < 512) return std::unexpected(std::string("bad sector size"));
    Gpt g;
    g.sector_size = sector_size;
    g.disk_guid = disk_guid;
    g.entries.resize(128);
    std::uint64_t sectors = dev_bytes / sector_size;
    std::uint64_t array = g.entry_array_sectors();
    if (sectors < 2 * (array + 1) + 3) return std::unexpected(std::string("device too small for a GPT"));
    g.entries_lba = 2;
    g.first_usable = 2 + array;
    g.backup_lba = sectors - 1;
    g.last_usable = g.backup_entries_lba() - 1;
    return g;
}

std::expected<Gpt, GptError> read_gpt(int fd, std::uint64_t sector_size) {
    auto size = device_bytes(fd);
    if (!size) return std::unexpected(GptError{false, size.error()});
    std::uint64_t sectors = sector_size ? *size / sector_size : 0;
    if (sectors < 3) return std::unexpected(GptError{true, "no GPT signature"});

    std::array<std::uint8_t, 8> sig{};
    if (auto r = read_at(fd, sig.data(), sig.size(), sector_size); !r)
        return std::unexpected(GptError{false, r.error()});
    if (!std::equal(sig.begin(), sig.end(), std::begin(SIGNATURE)))
        return std::unexpected(GptError{true, "no GPT signature"});

    auto primary = load_header(fd, sector_size, 1, sectors);
    std::uint64_t recorded_backup = 0;
    std::expected<std::pair<Header, std::vector<std::uint8_t>>, std::string> chosen = primary;
    if (primary) {
        recorded_backup = primary->first.alternate_lba;
    } else {
        // A damaged primary: the backup at the end of the device may still hold.
        auto backup = load_header(fd, sector_size, sectors - 1, sectors);
        if (!backup) return std::unexpected(GptError{false, primary.error()});
        chosen = std::move(backup);
        recorded_backup = sectors - 1;
    }
    const Header& h = chosen->first;
    if (recorded_backup >= sectors) return std::unexpected(GptError{false, "GPT extends past the end of the device"});

    Gpt g;
    g.sector_size = sector_size;
    g.disk_guid = h.disk_guid;
    g.entry_size = h.entry_size;
    g.first_usable = h.first_usable;
    g.last_usable = h.last_usable;
    g.entries_lba = primary ? h.entries_lba : 2;
    g.entries.resize(h.num_entries);
    const auto& raw = chosen->second;
    for (std::size_t i = 0; i < g.entries.size(); ++i) {
        const std::uint8_t* e = &raw[i * h.entry_size];
        GptEntry& out = g.entries[i];
        std::copy_n(e, 16, out.type.begin());
        std::copy_n(e + 16, 16, out.unique.begin());
        out.first_lba = le64(e + 32);
        out.last_lba = le64(e + 40);
        out.attributes = le64(e + 48);
        std::copy_n(e + 56, 72, out.raw_name.begin());
        out.tail.assign(e + 128, e + h.entry_size);
    }
    g.backup_lba = sectors - 1;
    if (recorded_backup < sectors - 1) {
        // The device grew under the table: the usable area follows the new end.
        g.last_usable = std::max(g.last_usable, g.backup_entries_lba() - 1);
    }
    if (g.first_usable < g.entries_lba + g.entry_array_sectors() || g.last_usable >= g.backup_entries_lba())
        return std::unexpected(GptError{false, "GPT usable area overlaps its entry arrays"});
    return g;
}

std::expected<Gpt, GptError> find_gpt(int fd) {
    auto g = read_gpt(fd, 512);
    if (g || !g.error().no_signature) return g;
    return read_gpt(fd, 4096);
}

std::expected<void, std::string> write_gpt(int fd, const Gpt& g) {
    const std::uint64_t S = g.sector_size;
    if (S < 512) return std::unexpected(std::string("bad sector size"));
    auto size = device_bytes(fd);
    if (!size) return std::unexpected(size.error());
    std::uint64_t sectors = *size / S;
    if (g.backup_lba != sectors - 1 || g.entries_lba < 2 || g.first_usable < g.entries_lba + g.entry_array_sectors() ||
        g.last_usable >= g.backup_entries_lba() || g.first_usable > g.last_usable || g.entry_size < 128)
        return std::unexpected(std::string("inconsistent GPT layout"));

    std::vector<std::uint8_t> array(g.entry_array_sectors() * S, 0);
    for (std::size_t i = 0; i < g.entries.size(); ++i) {
        std::uint8_t* e = &array[i * g.entry_size];
        const GptEntry& in = g.entries[i];
        std::copy(in.type.begin(), in.type.end(), e);
        std::copy(in.unique.begin(), in.unique.end(), e + 16);
        put64(e + 32, in.first_lba);
        put64(e + 40, in.last_lba);
        put64(e + 48, in.attributes);
        std::copy(in.raw_name.begin(), in.raw_name.end(), e + 56);
        std::copy_n(in.tail.begin(), std::min<std::size_t>(in.tail.size(), g.entry_size - 128), e + 128);
    }
    std::uint32_t array_crc = crc(array.data(), g.entries.size() * g.entry_size);

    std::vector<std::uint8_t> primary(S, 0), backup(S, 0);
    encode_header(primary.data(), g, 1, g.backup_lba, g.entries_lba, array_crc);
    encode_header(backup.data(), g, g.backup_lba, 1, g.backup_entries_lba(), array_crc);

    // Backup first: if we are interrupted, the primary still describes the
    // old table consistently and the backup is rebuilt on the next write.
    if (auto r = write_at(fd, array.data(), array.size(), g.backup_entries_lba() * S); !r) return r;
    if (auto r = write_at(fd, backup.data(), backup.size(), g.backup_lba * S); !r) return r;
    if (auto r = write_at(fd, array.data(), array.size(), g.entries_lba * S); !r) return r;
    if (auto r = write_at(fd, primary.data(), primary.size(), S); !r) return r;
    if (::fsync(fd) != 0 && errno != EINVAL) return std::unexpected(errno_text(errno));
    return {};
}

std::expected<void, std::string> write_protective_mbr(int fd, std::uint64_t sector_size) {
    auto size = device_bytes(fd);
    if (!size) return std::unexpected(size.error());
    std::uint64_t sectors = sector_size ? *size / sector_size : 0;
    if (sectors < 2) return std::unexpected(std::string("device too small"));
    std::array<std::uint8_t, 512> sec{};
    std::uint8_t* e = &sec[446];
    e[1] = 0x00, e[2] = 0x02, e[3] = 0x00; // CHS 0/0/2
    e[4] = 0xEE;
    e[5] = 0xFF, e[6] = 0xFF, e[7] = 0xFF;
    put32(e + 8, 1);
    put32(e + 12, std::uint32_t(std::min<std::uint64_t>(sectors - 1, 0xFFFFFFFFu)));
    sec[510] = 0x55;
    sec[511] = 0xAA;
    if (auto r = write_at(fd, sec.data(), sec.size(), 0); !r) return r;
    if (::fsync(fd) != 0 && errno != EINVAL) return std::unexpected(errno_text(errno));
    return {};
}

} // namespace disks
