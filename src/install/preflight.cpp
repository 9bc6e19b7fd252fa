#include "install/preflight.hpp"

#include <base/utf8.hpp>

#include "disks/disks.hpp"
#include <base/process.hpp>
#include "i18n/translate.hpp"
#include "install/mounts.hpp"

#include <fmt/format.h>
#include <functional>

namespace install {

namespace {

// The text of `key` in the current language, or the key itself; then its
// placeholders filled.
std::string refusal(std::string_view key, std::initializer_list<std::string_view> names = {},
                    std::initializer_list<std::string_view> values = {}) {
    auto locale = i18n::current_locale();
    auto text = i18n::try_translate(*locale, key);
    return i18n::fill_placeholders(text ? *text : key, names, values);
}

std::vector<std::string_view> components(std::string_view p, bool& rooted) {
    rooted = !p.empty() && p.front() == '/';
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < p.size()) {
        auto j = p.find('/', i);
        if (j == std::string_view::npos) j = p.size();
        auto c = p.substr(i, j - i);
        // "." inside a path says nothing; at the very start it does.
        if (!c.empty() && !(c == "." && !out.empty()) && !(c == "." && rooted)) out.push_back(c);
        i = j + 1;
    }
    return out;
}

const DiskRow* find_disk(const std::vector<DiskRow>& rows, const std::string& path) {
    for (const auto& r : rows)
        if (same_path(r.path, path)) return &r;
    return nullptr;
}

const PartitionRow* find_gap(const DiskRow& row, std::uint64_t start) {
    for (const auto& p : row.partitions)
        if (p.free && p.start == start) return &p;
    return nullptr;
}

const PartitionRow* find_partition(const DiskRow& row, std::uint32_t number) {
    for (const auto& p : row.partitions)
        if (!p.free && p.number == number) return &p;
    return nullptr;
}

bool lower_or_underscore(char c) { return (c >= 'a' && c <= 'z') || c == '_'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string gb(std::uint64_t bytes) { return fmt::format("{:.1f}", double(bytes) / 1e9); }

} // namespace

bool same_path(const std::string& a, const std::string& b) {
    bool ra = false, rb = false;
    auto ca = components(a, ra);
    auto cb = components(b, rb);
    return ra == rb && ca == cb;
}

bool account_form_valid(const AccountForm& f) {
    const auto& u = f.username;
    if (u.empty() || u.size() > 32 || !lower_or_underscore(u[0])) return false;
    for (char c : u)
        if (!lower_or_underscore(c) && !digit(c) && c != '-') return false;
    const auto& h = f.hostname;
    if (h.empty() || h.size() > 63 || h.front() == '-' || h.back() == '-') return false;
    for (char c : h)
        if (!letter(c) && !digit(c) && c != '-') return false;
    return !f.password.empty() && f.password == f.confirmation;
}

std::optional<std::uint64_t> parse_df_output(std::string_view out) {
    auto nl = out.find('\n');
    if (nl == std::string_view::npos) return std::nullopt;
    std::string_view rest = out.substr(nl + 1);
    std::string_view line = rest.substr(0, rest.find('\n'));
    std::string t = std::string(base::utf8::trim(line));
    if (t.empty()) return std::nullopt;
    return disks::parse_unsigned(t);
}

std::optional<std::uint64_t> df_field(const std::string& path, const std::string& column) {
    auto r = base::capture({"df", "-B1", "--output=" + column, path});
    if (!r || !r->exited_ok()) return std::nullopt;
    return parse_df_output(base::utf8::lossy(r->out));
}

namespace {

// `measure_used` runs only once the earlier checks have passed.
std::expected<ipc::InstallPlan, std::string> check(const WizardChoices& s,
                                                   const std::function<std::optional<std::uint64_t>()>& measure_used) {
    using TS = TargetSelection;
    if (std::holds_alternative<TS::None>(s.target.kind)) return std::unexpected(refusal("error.no_target"));

    std::string disk;
    ipc::TargetMode mode;
    std::visit(
        [&](const auto& t) {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, TS::WholeDisk>) {
                disk = t.disk;
                mode = ipc::TargetMode::WholeDisk{};
            } else if constexpr (std::is_same_v<T, TS::Partition>) {
                disk = t.disk;
                mode = ipc::TargetMode::Partition{t.number};
            } else if constexpr (std::is_same_v<T, TS::FreeSpace>) {
                disk = t.disk;
                mode = ipc::TargetMode::FreeSpace{t.start, 0};
            }
        },
        s.target.kind);

    if (!s.test) {
        if (auto live = medium_disk(); live && same_path(*live, disk))
            return std::unexpected(refusal("error.target_is_live", {"disk"}, {disk}));
    }

    const DiskRow* row = find_disk(s.disks, disk);
    const PartitionRow* gap = nullptr;
    if (auto* fsp = std::get_if<TS::FreeSpace>(&s.target.kind)) {
        gap = row ? find_gap(*row, fsp->start) : nullptr;
        if (!gap) return std::unexpected(refusal("error.free_space_gone"));
        mode = ipc::TargetMode::FreeSpace{fsp->start, gap->size};
    }
    const auto* part_sel = std::get_if<TS::Partition>(&s.target.kind);

    if (s.encrypt && !std::holds_alternative<TS::WholeDisk>(s.target.kind) && row && row->table == "msdos") {
        bool inside_extended = false;
        if (part_sel) {
            auto* p = find_partition(*row, part_sel->number);
            inside_extended = p && p->logical;
        } else {
            inside_extended = gap && gap->logical;
        }
        if (!inside_extended) {
            std::uint32_t used = 0;
            bool any_logical = false;
            for (const auto& p : row->partitions) {
                used += !p.free && !p.logical;
                any_logical = any_logical || p.logical;
            }
            used += any_logical;
            // A partition is replaced by two (one more slot); a gap takes two.
            if ((part_sel && used >= 4) || (!part_sel && used >= 3))
                return std::unexpected(refusal("error.mbr_full", {"disk"}, {disk}));
        }
    }

    if (auto used = measure_used(); used && row) {
        const std::uint64_t need = *used + *used / 10 + NEED_EXTRA;
        std::optional<std::uint64_t> have;
        if (std::holds_alternative<TS::WholeDisk>(s.target.kind))
            have = row->size_bytes > WHOLE_DISK_RESERVE ? row->size_bytes - WHOLE_DISK_RESERVE : 0;
        else if (part_sel) {
            if (auto* p = find_partition(*row, part_sel->number)) have = p->size;
        } else if (gap) {
            have = gap->size;
        }
        if (have) {
            std::uint64_t avail = *have;
            if (s.encrypt) avail = avail > ENCRYPTION_RESERVE ? avail - ENCRYPTION_RESERVE : 0;
            if (avail < need)
                return std::unexpected(refusal("error.target_too_small", {"have", "need"}, {gb(avail), gb(need)}));
        }
    }

    ipc::InstallPlan plan;
    plan.disk = disk;
    plan.mode = mode;
    plan.locale = s.language;
    if (account_form_valid(s.account))
        plan.account = ipc::AccountSetup{s.account.username, s.account.hostname, s.account.password};
    plan.encrypt = s.encrypt;
    plan.test = s.test;
    return plan;
}

} // namespace

std::expected<ipc::InstallPlan, std::string> preflight(const WizardChoices& s) {
    return check(s, [] { return df_field("/", "used"); });
}

std::expected<ipc::InstallPlan, std::string> preflight(const WizardChoices& s, std::optional<std::uint64_t> used) {
    return check(s, [used] { return used; });
}

} // namespace install
