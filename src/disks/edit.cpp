#include <base/units.hpp>
#include "disks/edit.hpp"

#include "disks/disks.hpp"
#include "disks/io.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <unistd.h>

namespace disks {

using io::errno_text;

namespace {

using base::MIB;
constexpr std::uint64_t U32_MAX = 0xFFFFFFFFu;

// An occupied stretch of sectors, inclusive, belonging to partition `number`.
struct Span {
    std::uint64_t first, last;
    std::uint32_t number;
};

// Refuses a range that leaves [lo, hi] (sectors, inclusive) or meets a
// partition in use. start and size are the bytes the caller asked for.
std::expected<void, std::string> check_range(const std::string& disk, std::uint64_t start, std::uint64_t size,
                                             std::uint64_t first, std::uint64_t last, std::uint64_t lo,
                                             std::uint64_t hi, std::uint64_t S, const std::vector<Span>& others) {
    const std::string range = "range " + std::to_string(start) + "+" + std::to_string(size) + " on " + disk;
    if (first < lo || last > hi || last < first)
        return std::unexpected(range + " lies outside the usable area " + std::to_string(io::sat_mul(lo, S)) + "-" +
                               std::to_string(io::sat_mul(io::sat_add(hi, 1), S)));
    for (const auto& o : others)
        if (first <= o.last && o.first <= last)
            return std::unexpected(range + " overlaps partition " + std::to_string(o.number));
    return {};
}

std::vector<Span> gpt_spans(const Gpt& g, std::uint32_t except) {
    std::vector<Span> out;
    for (std::size_t i = 0; i < g.entries.size(); ++i) {
        const auto& e = g.entries[i];
        if (e.used() && i + 1 != except) out.push_back({e.first_lba, e.last_lba, std::uint32_t(i + 1)});
    }
    return out;
}

std::vector<Span> primary_spans(const Mbr& m, std::uint32_t except) {
    std::vector<Span> out;
    for (std::uint32_t i = 0; i < 4; ++i) {
        const auto& e = m.primary[i];
        if (e.type != 0 && e.count != 0 && i + 1 != except)
            out.push_back({e.start, std::uint64_t(e.start) + e.count - 1, i + 1});
    }
    return out;
}

// Logical partitions together with the records that describe them.
std::vector<Span> logical_spans(const Mbr& m, std::uint32_t except) {
    std::vector<Span> out;
    for (std::size_t i = 0; i < m.logicals.size(); ++i) {
        const auto& l = m.logicals[i];
        auto n = std::uint32_t(i + 5);
        if (n == except) continue;
        out.push_back({l.ebr, l.ebr, n});
        if (l.entry.type != 0) out.push_back({l.start(), l.last(), n});
    }
    return out;
}

std::expected<Mbr, std::string> load_mbr(int fd, const std::string& disk) {
    auto m = read_mbr(fd, logical_block_size(disk));
    if (!m) return std::unexpected("no recognized table on " + disk);
    return m;
}

std::expected<void, std::string> store_mbr(int fd, const Mbr& m, const std::string& disk) {
    if (auto r = write_mbr(fd, m); !r) return std::unexpected("mbr write " + disk + ": " + r.error());
    return {};
}

std::expected<void, std::string> store_gpt(int fd, const Gpt& g, const std::string& disk) {
    if (auto r = write_gpt(fd, g); !r) return std::unexpected("gpt write " + disk + ": " + r.error());
    return {};
}

} // namespace

unsigned __int128 now_nanos() {
    static std::mutex lock;
    static unsigned __int128 last = 0;
    static bool any = false;
    using namespace std::chrono;
    auto since = system_clock::now().time_since_epoch();
    unsigned __int128 now = 0;
    if (since.count() > 0) {
        auto secs = duration_cast<seconds>(since);
        now = (unsigned __int128)(std::uint64_t(secs.count())) * 1000000000u +
              std::uint64_t(duration_cast<nanoseconds>(since - secs).count());
    }
    std::lock_guard g(lock);
    // A coarse or stalled clock must not hand out the same value twice.
    if (any && now <= last) now = last + 1;
    last = now;
    any = true;
    return now;
}

Guid clock_guid() {
    unsigned __int128 n = now_nanos();
    Guid g{};
    for (std::size_t i = 0; i < 16; ++i) g[i] = std::uint8_t(n >> (8 * i));
    return g;
}

namespace {

// A disk's table, edited in memory and written back once.
struct Table {
    std::optional<Gpt> gpt;
    std::optional<Mbr> mbr;
};

std::expected<Table, std::string> load_table(int fd, const std::string& disk) {
    if (auto g = find_gpt(fd)) return Table{std::move(*g), std::nullopt};
    auto m = load_mbr(fd, disk);
    if (!m) return std::unexpected(m.error());
    return Table{std::nullopt, std::move(*m)};
}

std::expected<void, std::string> store_table(int fd, const Table& t, const std::string& disk) {
    if (t.gpt) return store_gpt(fd, *t.gpt, disk);
    return store_mbr(fd, *t.mbr, disk);
}

std::expected<std::uint32_t, std::string> create_in(Table& t, const std::string& disk, std::uint64_t start,
                                                    std::uint64_t size) {
    if (t.gpt) {
        Gpt* g = &*t.gpt;
        const std::uint64_t S = g->sector_size;
        if (S == 0) return std::unexpected(std::string("gpt sector size is 0"));
        if (size < S) return std::unexpected(std::string("size below one sector"));
        std::uint64_t first = start / S;
        std::uint64_t last = io::sat_add(first, size / S) - 1;
        if (auto r = check_range(disk, start, size, first, last, g->first_usable, g->last_usable, S, gpt_spans(*g, 0)); !r)
            return std::unexpected(r.error());
        auto slot = std::find_if(g->entries.begin(), g->entries.end(), [](const GptEntry& e) { return !e.used(); });
        if (slot == g->entries.end()) return std::unexpected(std::string("no free GPT entry"));
        GptEntry e;
        e.type = *parse_guid(LINUX_DATA_GUID);
        e.unique = clock_guid();
        e.first_lba = first;
        e.last_lba = last;
        e.tail.assign(g->entry_size - 128, 0);
        *slot = e;
        return std::uint32_t(slot - g->entries.begin() + 1);
    }

    Mbr* m = &*t.mbr;
    const std::uint64_t L = m->sector_size;
    if (size < L || size / L > U32_MAX || start / L > U32_MAX)
        return std::unexpected("size " + std::to_string(size) + " or start " + std::to_string(start) +
                               " out of MBR range");
    const std::uint64_t s = start / L, c = size / L;
    auto ext = m->extended_slot();
    if (ext) {
        const std::uint64_t es = m->primary[*ext].start, ee = es + m->primary[*ext].count;
        if (s >= es && s < ee) {
            // Inside the container: its first sector holds the chain's head.
            if (auto r = check_range(disk, start, size, s, s + c - 1, es + 1, ee - 1, L, logical_spans(*m, 0)); !r)
                return std::unexpected(r.error());
            if (auto r = m->push_logical(0x83, s, c); !r)
                return std::unexpected("push logical on " + disk + ": " + r.error());
            return std::uint32_t(4 + m->logicals.size());
        }
    }
    if (auto r = check_range(disk, start, size, s, s + c - 1, 1, m->disk_sectors - 1, L, primary_spans(*m, 0)); !r)
        return std::unexpected(r.error());
    for (std::uint32_t i = 0; i < 4; ++i) {
        if (m->primary[i].type != 0) continue;
        MbrEntry e;
        e.type = 0x83;
        e.start = std::uint32_t(s);
        e.count = std::uint32_t(c);
        m->primary[i] = e;
        return i + 1;
    }
    return std::unexpected(std::string("no free MBR entry (4-primary limit)"));
}

void delete_in(Table& t, const std::vector<std::uint32_t>& numbers) {
    if (t.gpt) {
        // The whole entry goes: a slot that kept its range, GUID and name
        // would still be listed by other partitioners.
        for (auto n : numbers)
            if (n >= 1 && n <= t.gpt->entries.size()) {
                GptEntry empty;
                empty.tail.assign(t.gpt->entry_size > 128 ? t.gpt->entry_size - 128 : 0, 0);
                t.gpt->entries[n - 1] = empty;
            }
        return;
    }
    Mbr& m = *t.mbr;
    std::vector<std::uint32_t> sorted = numbers;
    std::sort(sorted.rbegin(), sorted.rend());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (auto n : sorted) {
        if (n == 0) continue;
        if (n <= 4) m.primary[n - 1] = MbrEntry{};
        else m.remove_logical(n);
    }
    // Without its container the logical chain is gone too.
    if (!m.extended_slot()) m.logicals.clear();
}

template <class Edit>
auto on_opened(const std::string& disk, Edit edit) -> decltype(edit(std::declval<const File&>())) {
    auto f = open_rw(disk);
    if (!f) return std::unexpected(f.error());
    return edit(*f);
}

} // namespace

std::expected<void, std::string> wipe(const std::string& disk) {
    return on_opened(disk, [&](const File& f) { return wipe(f, disk); });
}

std::expected<void, std::string> wipe(const File& file, const std::string& disk) {
    const int fd = file.get();
    std::vector<char> zeros(MIB, 0);
    if (auto r = io::write_at(fd, zeros.data(), zeros.size(), 0); !r)
        return std::unexpected("wipe head " + disk + ": " + r.error());
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) return std::unexpected("seek end " + disk + ": " + errno_text(errno));
    std::uint64_t size = std::uint64_t(end);
    if (size > MIB) {
        if (::lseek(fd, off_t(size - MIB), SEEK_SET) < 0)
            return std::unexpected("seek tail " + disk + ": " + errno_text(errno));
        if (auto r = io::write_at(fd, zeros.data(), zeros.size(), size - MIB); !r)
            return std::unexpected("wipe tail " + disk + ": " + r.error());
    }
    ::fsync(fd);
    return {};
}

std::expected<std::uint32_t, std::string> create_partition(const std::string& disk, std::uint64_t start,
                                                           std::uint64_t size) {
    return on_opened(disk, [&](const File& f) { return create_partition(f, disk, start, size); });
}

std::expected<std::uint32_t, std::string> create_partition(const File& file, const std::string& disk,
                                                           std::uint64_t start, std::uint64_t size) {
    auto t = load_table(file.get(), disk);
    if (!t) return std::unexpected(t.error());
    auto n = create_in(*t, disk, start, size);
    if (!n) return n;
    if (auto r = store_table(file.get(), *t, disk); !r) return std::unexpected(r.error());
    return n;
}

std::expected<void, std::string> delete_partitions(const std::string& disk, const std::vector<std::uint32_t>& numbers) {
    if (numbers.empty()) return {};
    return on_opened(disk, [&](const File& f) { return delete_partitions(f, disk, numbers); });
}

std::expected<void, std::string> delete_partitions(const File& file, const std::string& disk,
                                                   const std::vector<std::uint32_t>& numbers) {
    if (numbers.empty()) return {};
    auto t = load_table(file.get(), disk);
    if (!t) return std::unexpected(t.error());
    delete_in(*t, numbers);
    return store_table(file.get(), *t, disk);
}

std::expected<std::vector<std::uint32_t>, std::string> replace_partitions(const File& file, const std::string& disk,
                                                                          const std::vector<std::uint32_t>& numbers,
                                                                          const std::vector<NewPartition>& ranges) {
    auto t = load_table(file.get(), disk);
    if (!t) return std::unexpected(t.error());
    delete_in(*t, numbers);
    std::vector<std::uint32_t> created;
    for (const auto& r : ranges) {
        auto n = create_in(*t, disk, r.start, r.size);
        if (!n) return std::unexpected(n.error());
        created.push_back(*n);
    }
    if (auto r = store_table(file.get(), *t, disk); !r) return std::unexpected(r.error());
    return created;
}

std::expected<void, std::string> resize_partition(const std::string& disk, std::uint32_t n, std::uint64_t new_size) {
    return on_opened(disk, [&](const File& f) { return resize_partition(f, disk, n, new_size); });
}

std::expected<void, std::string> resize_partition(const File& file, const std::string& disk, std::uint32_t n,
                                                  std::uint64_t new_size) {
    const int fd = file.get();
    if (auto g = find_gpt(fd)) {
        const std::uint64_t S = g->sector_size;
        if (n < 1 || n > g->entries.size()) return std::unexpected("p" + std::to_string(n) + ": not in GPT");
        if (new_size < S) return std::unexpected(std::string("size below one sector"));
        auto& e = g->entries[n - 1];
        std::uint64_t last = io::sat_add(e.first_lba, new_size / S) - 1;
        if (e.used()) {
            if (auto r = check_range(disk, io::sat_mul(e.first_lba, S), new_size, e.first_lba, last, g->first_usable,
                                     g->last_usable, S, gpt_spans(*g, n));
                !r)
                return std::unexpected(r.error());
        }
        e.last_lba = last;
        return store_gpt(fd, *g, disk);
    }
    auto m = load_mbr(fd, disk);
    if (!m) return std::unexpected(m.error());
    const std::uint64_t L = m->sector_size;
    const bool primary = n >= 1 && n <= 4;
    const bool logical = n >= 5 && n - 5 < m->logicals.size();
    if (!primary && !logical) return std::unexpected("p" + std::to_string(n) + ": not in MBR");
    if (new_size < L || new_size / L > U32_MAX) return std::unexpected("size " + std::to_string(new_size) + " out of MBR range");
    const std::uint64_t c = new_size / L;
    auto ext = m->extended_slot();
    if (primary) {
        auto& e = m->primary[n - 1];
        if (e.type != 0) {
            if (ext && *ext == n - 1) {
                // The container must keep every logical partition inside it.
                for (const auto& sp : logical_spans(*m, 0))
                    if (sp.last > e.start + c - 1)
                        return std::unexpected("range " + std::to_string(std::uint64_t(e.start) * L) + "+" +
                                               std::to_string(new_size) + " on " + disk + " would cut off partition " +
                                               std::to_string(sp.number));
            }
            const std::vector<Span> others = primary_spans(*m, n);
            if (auto r = check_range(disk, std::uint64_t(e.start) * L, new_size, e.start, e.start + c - 1, 1,
                                     m->disk_sectors - 1, L, others);
                !r)
                return std::unexpected(r.error());
        }
        e.count = std::uint32_t(c);
    } else {
        auto& l = m->logicals[n - 5];
        if (ext && l.entry.type != 0) {
            const std::uint64_t es = m->primary[*ext].start, ee = es + m->primary[*ext].count;
            if (auto r = check_range(disk, l.start() * L, new_size, l.start(), l.start() + c - 1, es + 1, ee - 1, L,
                                     logical_spans(*m, n));
                !r)
                return std::unexpected(r.error());
        }
        l.entry.count = std::uint32_t(c);
    }
    return store_mbr(fd, *m, disk);
}

} // namespace disks
