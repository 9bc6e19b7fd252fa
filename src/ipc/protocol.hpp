#pragma once
// The records that cross the daemon socket, their JSON-lines form and the
// framing of both sides.
//
// One JSON object per line, one request per connection: the wizard writes a
// `Request` line, the daemon answers with `Event` lines (any number of
// `Progress` for an install, then exactly one `Done` or `Failed`).
// `InstallPlan`, `AccountSetup`, `TargetMode` and `InstallPhase` are also the
// install engine's own types; `RemoteDiskOp` is the engine's disk operation.
//
// Tagged unions are small structs over a std::variant of their kinds:
//   ipc::TargetMode m = ipc::TargetMode::Partition{3};
//   if (auto* p = m.get<ipc::TargetMode::Partition>()) use(p->number);
//   std::visit(overloaded{...}, m.kind);

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ipc {

// The fixed failure messages that cross the socket and that the wizard
// translates. "no-daemon" is made up by the client, never sent.
inline constexpr std::string_view NOT_PENDING = "not-pending";
inline constexpr std::string_view BUSY = "busy";
inline constexpr std::string_view CANCELLED = "cancelled";
inline constexpr std::string_view NO_DAEMON = "no-daemon";

struct AccountSetup {
    std::string username;
    std::string hostname;
    std::string password;
    bool operator==(const AccountSetup&) const = default;
};

// Which part of the disk receives the system.
struct TargetMode {
    struct WholeDisk {
        bool operator==(const WholeDisk&) const = default;
    };
    struct Partition {
        std::uint32_t number = 0;
        bool operator==(const Partition&) const = default;
    };
    // A free region of the disk, handed on to the engine unchanged.
    struct FreeSpace {
        std::uint64_t start = 0;  // bytes
        std::uint64_t size = 0;   // bytes
        bool operator==(const FreeSpace&) const = default;
    };
    using Kind = std::variant<WholeDisk, Partition, FreeSpace>;
    Kind kind;

    TargetMode() = default;
    TargetMode(WholeDisk k) : kind(k) {}
    TargetMode(Partition k) : kind(k) {}
    TargetMode(FreeSpace k) : kind(k) {}
    template <class T>
    const T* get() const { return std::get_if<T>(&kind); }
    bool operator==(const TargetMode&) const = default;
};

// Debug form used in log lines: WholeDisk, Partition(3), FreeSpace(1048576, 2097152).
std::string debug_string(const TargetMode& m);

enum class InstallPhase { Partition, Format, Copy, Bootloader, Finalize };

// "Partition", "Format", "Copy", "Bootloader", "Finalize"
std::string_view phase_name(InstallPhase p);

struct InstallPlan {
    std::filesystem::path disk;  // device node of the target disk
    TargetMode mode;
    std::string locale;          // language code of the installed system
    std::optional<AccountSetup> account;
    bool encrypt = false;
    bool test = false;
    bool operator==(const InstallPlan&) const = default;
};

// One partition-table operation of a batch, as the engine applies it.
struct RemoteDiskOp {
    struct Wipe {
        std::filesystem::path disk;
        bool operator==(const Wipe&) const = default;
    };
    struct Delete {
        std::filesystem::path disk;
        std::vector<std::uint32_t> numbers;
        bool operator==(const Delete&) const = default;
    };
    struct Resize {
        std::filesystem::path disk;
        std::filesystem::path part;  // the partition's node
        std::uint32_t number = 0;
        std::uint64_t current_bytes = 0;
        std::uint64_t new_bytes = 0;
        std::optional<std::string> fs;  // file-system type, when known
        bool operator==(const Resize&) const = default;
    };
    struct Create {
        std::filesystem::path disk;
        std::uint64_t start_byte = 0;
        std::uint64_t size_bytes = 0;
        bool operator==(const Create&) const = default;
    };
    using Kind = std::variant<Wipe, Delete, Resize, Create>;
    Kind kind;

    RemoteDiskOp() = default;
    RemoteDiskOp(Wipe k) : kind(std::move(k)) {}
    RemoteDiskOp(Delete k) : kind(std::move(k)) {}
    RemoteDiskOp(Resize k) : kind(std::move(k)) {}
    RemoteDiskOp(Create k) : kind(std::move(k)) {}
    template <class T>
    const T* get() const { return std::get_if<T>(&kind); }
    bool operator==(const RemoteDiskOp&) const = default;
};

// Wizard to daemon.
struct Request {
    struct Install {
        InstallPlan plan;
        bool operator==(const Install&) const = default;
    };
    struct CancelInstall {
        bool operator==(const CancelInstall&) const = default;
    };
    struct DiskOps {
        std::vector<RemoteDiskOp> ops;
        bool operator==(const DiskOps&) const = default;
    };
    struct ApplyLocale {
        std::string locale;
        bool operator==(const ApplyLocale&) const = default;
    };
    struct StageAccount {
        std::string username;
        std::string hostname;
        std::string password;
        bool encrypt = false;
        bool operator==(const StageAccount&) const = default;
    };
    struct FinishConfigure {
        bool operator==(const FinishConfigure&) const = default;
    };
    using Kind = std::variant<Install, CancelInstall, DiskOps, ApplyLocale, StageAccount, FinishConfigure>;
    Kind kind;

    Request() = default;
    Request(Install k) : kind(std::move(k)) {}
    Request(CancelInstall k) : kind(k) {}
    Request(DiskOps k) : kind(std::move(k)) {}
    Request(ApplyLocale k) : kind(std::move(k)) {}
    Request(StageAccount k) : kind(std::move(k)) {}
    Request(FinishConfigure k) : kind(k) {}
    template <class T>
    const T* get() const { return std::get_if<T>(&kind); }
    bool operator==(const Request&) const = default;

    // Reads one JSON text; the error is the reader's description
    // ("missing field `cmd` at line 1 column 2").
    [[nodiscard]] static std::expected<Request, std::string> deserialize(std::string_view text);
};

// Daemon to wizard.
struct Event {
    struct Progress {
        InstallPhase phase = InstallPhase::Partition;
        float fraction = 0.0f;  // 0..1
        bool operator==(const Progress&) const = default;
    };
    struct Done {
        bool operator==(const Done&) const = default;
    };
    struct Failed {
        std::string message;
        bool operator==(const Failed&) const = default;
    };
    using Kind = std::variant<Progress, Done, Failed>;
    Kind kind;

    // Spelled out: clang cannot use Progress's member initialisers while
    // Event is still being defined, and would delete a defaulted one.
    Event() : kind(Progress{}) {}
    Event(Progress k) : kind(k) {}
    Event(Done k) : kind(k) {}
    Event(Failed k) : kind(std::move(k)) {}
    template <class T>
    const T* get() const { return std::get_if<T>(&kind); }
    bool operator==(const Event&) const = default;

    [[nodiscard]] static std::expected<Event, std::string> deserialize(std::string_view text);
};

// The compact JSON text of a message, without the line break. Fails with
// "path contains invalid UTF-8 characters" (or "text contains ..." for other
// text fields) when a value cannot travel as UTF-8.
[[nodiscard]] std::expected<std::string, std::string> encode(const Request& r);
[[nodiscard]] std::expected<std::string, std::string> encode(const Event& e);

// Writes one message as one line with a single complete write (partial
// writes continued). Errors: "encode request: <reason>" (nothing written) or
// "write to daemon: <system error>". Never raises SIGPIPE.
[[nodiscard]] std::expected<void, std::string> write_line(int fd, const Request& r);
[[nodiscard]] std::expected<void, std::string> write_line(int fd, const Event& e);

// ---------------------------------------------------------------------------
// Framing
// ---------------------------------------------------------------------------

inline constexpr std::size_t READ_BUFFER_SIZE = 8192;
// The longest request line the daemon reads; a longer one is a bad request.
// The largest legitimate request (a disk batch) stays far below it.
inline constexpr std::size_t MAX_REQUEST_LINE = 1024 * 1024;

// Text of a line that is not valid UTF-8; a read failure, not a reader error.
inline constexpr std::string_view INVALID_UTF8 = "stream did not contain valid UTF-8";

// Reads "\n"-terminated lines from a descriptor through a buffer of
// READ_BUFFER_SIZE bytes. The last line may lack its "\n". Lines longer
// than `max_line` bytes are not collected: the reader stops with TooLong.
class LineReader {
public:
    explicit LineReader(int fd, std::size_t max_line = SIZE_MAX);

    enum class Status { Line, End, TooLong, Failed };
    struct Result {
        Status status = Status::End;
        std::string line;   // Line: without the "\n"
        std::string error;  // Failed: the system's error text or INVALID_UTF8
    };
    Result next();

private:
    int fd_;
    std::size_t max_line_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
};

// The daemon's side: one request from the first line of the connection
// (up to the first "\n" or the end of the stream), trimmed.
struct RequestRead {
    enum class Status {
        Ok,          // `request` holds it
        BadRequest,  // answer Failed with `error` ("bad request: ...")
        ReadFailed,  // close without an answer; `error` says why
    };
    Status status = Status::ReadFailed;
    Request request;
    std::string error;
};
RequestRead read_request(int fd);

// The wizard's side: events from a connection. Lines split at "\n", a "\r"
// before it removed, lines of only white space skipped.
class EventReader {
public:
    explicit EventReader(int fd) : lines_(fd) {}
    // The next event; nullopt at the end of the stream. Errors:
    // "read from daemon: <cause>" and "bad event from daemon: <description>".
    [[nodiscard]] std::expected<std::optional<Event>, std::string> next();

private:
    LineReader lines_;
};

}  // namespace ipc
