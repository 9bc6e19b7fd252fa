#include "ipc/protocol.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <atomic>
#include <random>
#include <sys/mman.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ipc;

namespace {

// A descriptor whose whole content is `bytes`, readable from the start.
class MemFile {
public:
    explicit MemFile(std::string_view bytes) {
        fd_ = memfd_create("protocol-test", MFD_CLOEXEC);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::lseek(fd_, 0, SEEK_SET);
    }
    ~MemFile() { ::close(fd_); }
    int fd() const { return fd_; }
    std::string content() const {
        std::string out;
        char buf[4096];
        ::lseek(fd_, 0, SEEK_SET);
        ssize_t n;
        while ((n = ::read(fd_, buf, sizeof buf)) > 0) out.append(buf, std::size_t(n));
        return out;
    }

private:
    int fd_ = -1;
};

InstallPlan plan_whole_disk() {
    InstallPlan p;
    p.disk = "/dev/nvme0n1";
    p.mode = TargetMode::WholeDisk{};
    p.locale = "de";
    p.account = AccountSetup{"anna", "tavix-phone", "s3cret"};
    p.encrypt = true;
    p.test = false;
    return p;
}

struct Golden {
    std::string name;
    std::variant<Request, Event> message;
    std::string text;
};

std::vector<Golden> golden_cases() {
    InstallPlan no_account = plan_whole_disk();
    no_account.account.reset();
    no_account.mode = TargetMode::FreeSpace{1048576, 2097152};
    no_account.encrypt = false;
    no_account.test = true;
    InstallPlan partition = plan_whole_disk();
    partition.mode = TargetMode::Partition{3};

    RemoteDiskOp::Resize resize_no_fs{"/dev/sda", "/dev/sda2", 2, 5000000000, 4000000000, std::nullopt};
    RemoteDiskOp::Resize resize_ext{"/dev/sda", "/dev/sda3", 3, 1000, 2000, "ext4"};
    return {
        {"install whole disk", Request(Request::Install{plan_whole_disk()}),
         R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":"WholeDisk","locale":"de",)"
         R"("account":{"username":"anna","hostname":"tavix-phone","password":"s3cret"},"encrypt":true,"test":false}})"},
        {"install free space without account", Request(Request::Install{no_account}),
         R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":{"FreeSpace":[1048576,2097152]},)"
         R"("locale":"de","account":null,"encrypt":false,"test":true}})"},
        {"install partition", Request(Request::Install{partition}),
         R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":{"Partition":3},"locale":"de",)"
         R"("account":{"username":"anna","hostname":"tavix-phone","password":"s3cret"},"encrypt":true,"test":false}})"},
        {"cancel", Request(Request::CancelInstall{}), R"({"cmd":"cancel_install"})"},
        {"disk ops",
         Request(Request::DiskOps{{RemoteDiskOp::Wipe{"/dev/sdb"}, RemoteDiskOp::Delete{"/dev/sda", {1, 4}},
                                   resize_no_fs, resize_ext, RemoteDiskOp::Create{"/dev/sda", 1048576, 536870912}}}),
         R"({"cmd":"disk_ops","ops":[{"Wipe":{"disk":"/dev/sdb"}},{"Delete":{"disk":"/dev/sda","numbers":[1,4]}},)"
         R"({"Resize":{"disk":"/dev/sda","part":"/dev/sda2","number":2,"current_bytes":5000000000,"new_bytes":4000000000,"fs":null}},)"
         R"({"Resize":{"disk":"/dev/sda","part":"/dev/sda3","number":3,"current_bytes":1000,"new_bytes":2000,"fs":"ext4"}},)"
         R"({"Create":{"disk":"/dev/sda","start_byte":1048576,"size_bytes":536870912}}]})"},
        {"empty disk ops", Request(Request::DiskOps{}), R"({"cmd":"disk_ops","ops":[]})"},
        {"apply locale", Request(Request::ApplyLocale{"pt"}), R"({"cmd":"apply_locale","locale":"pt"})"},
        {"stage account", Request(Request::StageAccount{"bo", "host", "p\"w", false}),
         R"({"cmd":"stage_account","username":"bo","hostname":"host","password":"p\"w","encrypt":false})"},
        {"finish configure", Request(Request::FinishConfigure{}), R"({"cmd":"finish_configure"})"},
        {"progress", Event(Event::Progress{InstallPhase::Copy, 0.25f}),
         R"({"event":"progress","phase":"Copy","fraction":0.25})"},
        {"progress bootloader", Event(Event::Progress{InstallPhase::Bootloader, 1.0f}),
         R"({"event":"progress","phase":"Bootloader","fraction":1.0})"},
        {"done", Event(Event::Done{}), R"({"event":"done"})"},
        {"failed", Event(Event::Failed{"not-pending"}), R"({"event":"failed","message":"not-pending"})"},
    };
}

TEST(ProtocolEncode, GoldenLinesAndReadBack) {
    for (const auto& c : golden_cases()) {
        MemFile out("");
        std::visit([&](const auto& m) { ASSERT_TRUE(write_line(out.fd(), m)) << c.name; }, c.message);
        EXPECT_EQ(out.content(), c.text + "\n") << c.name;
        if (auto* r = std::get_if<Request>(&c.message)) {
            auto back = Request::deserialize(c.text);
            ASSERT_TRUE(back) << c.name << ": " << back.error();
            EXPECT_TRUE(*back == *r) << c.name;
        } else {
            auto back = Event::deserialize(c.text);
            ASSERT_TRUE(back) << c.name << ": " << back.error();
            EXPECT_TRUE(*back == std::get<Event>(c.message)) << c.name;
        }
    }
}

TEST(ProtocolEncode, FractionsUseShortestTextAndNullWhenNotFinite) {
    struct Case {
        float fraction;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0.0f, "0.0"},
        {1.0f, "1.0"},
        {0.25f, "0.25"},
        {0.5f, "0.5"},
        {0.1f, "0.1"},
        {1.0f / 3.0f, "0.33333334"},
        {0.000001f, "0.000001"},
        {0.0000001f, "1e-7"},
        {0.99999994f, "0.99999994"},
        {INFINITY, "null"},
        {-INFINITY, "null"},
        {NAN, "null"},
    };
    for (const auto& c : cases) {
        auto text = encode(Event(Event::Progress{InstallPhase::Format, c.fraction}));
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, R"({"event":"progress","phase":"Format","fraction":)" + c.text + "}") << c.text;
        auto back = Event::deserialize(*text);
        if (std::isfinite(c.fraction)) {
            ASSERT_TRUE(back) << back.error();
            EXPECT_EQ(back->get<Event::Progress>()->fraction, c.fraction) << c.text;
        } else {
            ASSERT_FALSE(back);
            EXPECT_EQ(back.error(), "invalid type: null, expected f32 at line 1 column 52");
        }
    }
}

std::string random_text(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "a", "Z", "9", " ", "\"", "\\", "\t", "\n", "\r", "\b", "\f", "\x01", "\x1f", "/", "{", "}",
        "\xc3\xa9", "\xc3\x9f", "\xe6\x97\xa5\xe6\x9c\xac", "\xd0\x96", "\xf0\x9f\x94\x91", "\x7f", "\\u0041", "'"};
    std::uniform_int_distribution<std::size_t> len(0, 24), pick(0, pieces.size() - 1);
    std::string s;
    for (std::size_t n = len(rng); n > 0; --n) s += pieces[pick(rng)];
    return s;
}

TEST(ProtocolEncode, RandomPlansRoundTrip) {
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<std::uint64_t> big;
    std::uniform_int_distribution<std::uint32_t> small;
    std::uniform_int_distribution<int> coin(0, 2);
    for (int n = 0; n < 500; ++n) {
        InstallPlan p;
        p.disk = "/dev/" + random_text(rng);
        switch (coin(rng)) {
        case 0: p.mode = TargetMode::WholeDisk{}; break;
        case 1: p.mode = TargetMode::Partition{small(rng)}; break;
        default: p.mode = TargetMode::FreeSpace{big(rng), big(rng)};
        }
        p.locale = random_text(rng);
        if (coin(rng)) p.account = AccountSetup{random_text(rng), random_text(rng), random_text(rng)};
        p.encrypt = coin(rng) == 0;
        p.test = coin(rng) == 1;
        Request r = Request::Install{p};
        auto text = encode(r);
        ASSERT_TRUE(text) << text.error();
        ASSERT_EQ(text->find('\n'), std::string::npos) << *text;
        auto back = Request::deserialize(*text);
        ASSERT_TRUE(back) << *text << ": " << back.error();
        ASSERT_TRUE(*back == r) << *text;

        Request stage = Request::StageAccount{random_text(rng), random_text(rng), random_text(rng), p.encrypt};
        auto stage_text = encode(stage);
        ASSERT_TRUE(stage_text);
        auto stage_back = Request::deserialize(*stage_text);
        ASSERT_TRUE(stage_back) << *stage_text << ": " << stage_back.error();
        ASSERT_TRUE(*stage_back == stage) << *stage_text;
    }
}

TEST(ProtocolEncode, PasswordEscapes) {
    Request r = Request::StageAccount{"u", "h", "a\"b\\c\td\xc3\xa9\xe6\x97\xa5\x01", true};
    auto text = encode(r);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "{\"cmd\":\"stage_account\",\"username\":\"u\",\"hostname\":\"h\","
              "\"password\":\"a\\\"b\\\\c\\td\xc3\xa9\xe6\x97\xa5\\u0001\",\"encrypt\":true}");
}

TEST(ProtocolEncode, InvalidUtf8IsRefusedBeforeWriting) {
    InstallPlan p = plan_whole_disk();
    p.disk = "/dev/\xff";
    MemFile out("");
    auto r = write_line(out.fd(), Request::Install{p});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "encode request: path contains invalid UTF-8 characters");
    EXPECT_EQ(out.content(), "");

    auto ops = write_line(out.fd(), Request::DiskOps{{RemoteDiskOp::Resize{"/dev/sda", "/dev/sda\xc3", 1, 1, 1, {}}}});
    ASSERT_FALSE(ops);
    EXPECT_EQ(ops.error(), "encode request: path contains invalid UTF-8 characters");
    EXPECT_EQ(out.content(), "");
}

TEST(ProtocolEncode, WriteToAClosedPeerFailsWithoutSignal) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    ::close(sv[1]);
    // With the default SIGPIPE action a plain write would kill the test.
    auto old = std::signal(SIGPIPE, SIG_DFL);
    auto r = write_line(sv[0], Event::Done{});
    std::signal(SIGPIPE, old);
    ::close(sv[0]);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), std::string("write to daemon: ") + std::strerror(EPIPE));
}

TEST(ProtocolEncode, LargeLineIsWrittenCompletely) {
    // Far more than a socket buffer: the writer must continue partial writes.
    Request::DiskOps ops;
    for (std::uint32_t n = 0; n < 20000; ++n) ops.ops.push_back(RemoteDiskOp::Delete{"/dev/sda", {n}});
    Request r = ops;
    auto expected = encode(r);
    ASSERT_TRUE(expected);
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(sv[1], buf, sizeof buf)) > 0) received.append(buf, std::size_t(n));
    });
    EXPECT_TRUE(write_line(sv[0], r));
    ::close(sv[0]);
    reader.join();
    ::close(sv[1]);
    EXPECT_EQ(received, *expected + "\n");
}

// --- reading ----------------------------------------------------------------

struct Accept {
    std::string text;
    Request expected;
};

TEST(ProtocolRead, AcceptedRequestForms) {
    InstallPlan fs_plan = plan_whole_disk();
    fs_plan.mode = TargetMode::FreeSpace{1048576, 2097152};
    fs_plan.account = AccountSetup{"u", "h", "p"};
    fs_plan.encrypt = true;
    InstallPlan no_acc = plan_whole_disk();
    no_acc.account.reset();
    InstallPlan part = no_acc;
    part.mode = TargetMode::Partition{4};
    const std::string rest = R"("locale":"de","encrypt":true,"test":false)";
    const std::vector<Accept> cases = {
        {R"({"locale":"pt","cmd":"apply_locale"})", Request::ApplyLocale{"pt"}},
        {R"({"cmd":"apply_locale","extra":{"deep":[1,{"x":null}]},"locale":"pt","cmd2":1})", Request::ApplyLocale{"pt"}},
        {R"( {"cmd":"cancel_install","x":1} )", Request::CancelInstall{}},
        {R"({"cmd":"finish_configure"})", Request::FinishConfigure{}},
        {R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":"WholeDisk",)" + rest + "}}", Request::Install{no_acc}},
        {R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":"WholeDisk","account":null,)" + rest + "}}", Request::Install{no_acc}},
        {R"({"plan":{"test":false,"encrypt":true,"locale":"de","mode":{"Partition":4},"disk":"/dev/nvme0n1"},"cmd":"install"})", Request::Install{part}},
        {R"({"cmd":"install","plan":["/dev/nvme0n1",{"FreeSpace":[1048576,2097152]},"de",["u","h","p"],true,false]})", Request::Install{fs_plan}},
        {R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":0,)" + rest + "}}", Request::Install{no_acc}},
        {R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":{"WholeDisk":null},)" + rest + "}}", Request::Install{no_acc}},
        {R"({"cmd":"install","plan":{"disk":"/dev/nvme0n1","mode":{"1":4},)" + rest + "}}", Request::Install{part}},
        {R"(["apply_locale","ja"])", Request::ApplyLocale{"ja"}},
        {R"(["stage_account","u","h","p",true])", Request::StageAccount{"u", "h", "p", true}},
        {R"({"cmd":"disk_ops","ops":[{"0":{"disk":"/dev/sdb"}},{"Resize":{"disk":"/dev/sda","part":"/dev/sda1","number":1,"current_bytes":10,"new_bytes":5}}]})",
         Request::DiskOps{{RemoteDiskOp::Wipe{"/dev/sdb"}, RemoteDiskOp::Resize{"/dev/sda", "/dev/sda1", 1, 10, 5, {}}}}},
        {R"({"cmd":"disk_ops","ops":[{"Create":["/dev/sda",1,2]},{"Delete":{"numbers":[],"disk":"/dev/sda"}}]})",
         Request::DiskOps{{RemoteDiskOp::Create{"/dev/sda", 1, 2}, RemoteDiskOp::Delete{"/dev/sda", {}}}}},
    };
    for (const auto& c : cases) {
        auto r = Request::deserialize(c.text);
        ASSERT_TRUE(r) << c.text << ": " << r.error();
        EXPECT_TRUE(*r == c.expected) << c.text;
    }
}

TEST(ProtocolRead, AcceptedEventForms) {
    struct Case {
        std::string text;
        Event expected;
    };
    const std::vector<Case> cases = {
        {R"({"fraction":1,"phase":"Finalize","event":"progress"})", Event::Progress{InstallPhase::Finalize, 1.0f}},
        {R"({"event":"progress","phase":2,"fraction":0.5,"eta":9})", Event::Progress{InstallPhase::Copy, 0.5f}},
        {R"({"event":"progress","phase":{"Format":null},"fraction":0})", Event::Progress{InstallPhase::Format, 0.0f}},
        {R"(["progress","Partition",0.125])", Event::Progress{InstallPhase::Partition, 0.125f}},
        {R"({"event":"done","message":"ignored"})", Event::Done{}},
        {R"({"message":"busy","event":"failed"})", Event::Failed{"busy"}},
    };
    for (const auto& c : cases) {
        auto r = Event::deserialize(c.text);
        ASSERT_TRUE(r) << c.text << ": " << r.error();
        EXPECT_TRUE(*r == c.expected) << c.text;
    }
}

struct Refuse {
    std::string text;
    std::string error;
};

std::string install_with_plan(std::string_view plan) { return R"({"cmd":"install","plan":)" + std::string(plan) + "}"; }
std::string install_with_mode(std::string_view mode) {
    return install_with_plan(R"({"disk":"/dev/sda","mode":)" + std::string(mode) +
                             R"(,"locale":"en","encrypt":false,"test":false})");
}
std::string disk_ops(std::string_view ops) { return R"({"cmd":"disk_ops","ops":)" + std::string(ops) + "}"; }

TEST(ProtocolRead, RequestReaderErrors) {
    const std::vector<Refuse> cases = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"not json", "expected ident at line 1 column 2"},
        {R"({"cmd":"finish_configure"}{"cmd":"finish_configure"})", "trailing characters at line 1 column 27"},
        {R"({"plan":{}})", "missing field `cmd` at line 1 column 11"},
        {R"({"cmd":"install","cmd":"install"})", "duplicate field `cmd` at line 1 column 22"},
        {R"({"cmd":"reboot"})",
         "unknown variant `reboot`, expected one of `install`, `cancel_install`, `disk_ops`, `apply_locale`, "
         "`stage_account`, `finish_configure` at line 1 column 15"},
        {R"({"cmd":7})", "invalid type: integer `7`, expected variant identifier at line 1 column 8"},
        {R"("install")", "invalid type: string \"install\", expected internally tagged enum Request at line 1 column 9"},
        {R"({"cmd":"install"})", "missing field `plan` at line 1 column 17"},
        {R"({"cmd":"install","plan":5})", "invalid type: integer `5`, expected struct InstallPlan at line 1 column 25"},
        {R"({"cmd":"install","plan":5,"plan":{}})", "duplicate field `plan` at line 1 column 32"},
        {install_with_plan(R"(["/dev/sda","WholeDisk","en",null,false])"),
         "invalid length 5, expected struct InstallPlan with 6 elements at line 1 column 64"},
        {install_with_plan(R"({"disk":5})"), "invalid type: integer `5`, expected path string at line 1 column 33"},
        {install_with_plan(R"({"disk":"/dev/sda","mode":"WholeDisk","locale":"en","test":false})"),
         "missing field `encrypt` at line 1 column 89"},
        {install_with_plan(R"({"disk":"/dev/sda","mode":"WholeDisk","locale":"en","encrypt":false,"test":false,"account":{"username":"u","hostname":"h"}})"),
         "missing field `password` at line 1 column 146"},
        {install_with_plan(R"({"disk":"/dev/sda","mode":"WholeDisk","locale":"en","encrypt":false,"test":false,"account":["u","h"]})"),
         "invalid length 2, expected struct AccountSetup with 3 elements at line 1 column 124"},
        {install_with_plan(R"({"disk":"/dev/sda","mode":"WholeDisk","locale":"en","encrypt":false,"test":false,"account":"u"})"),
         "invalid type: string \"u\", expected struct AccountSetup at line 1 column 118"},
        {install_with_mode(R"({"Partition":-1})"), "invalid value: integer `-1`, expected u32 at line 1 column 65"},
        {install_with_mode(R"({"Partition":4294967296})"), "invalid value: integer `4294967296`, expected u32 at line 1 column 73"},
        {install_with_mode(R"({"Partition":1.5})"), "invalid type: floating point `1.5`, expected u32 at line 1 column 66"},
        {install_with_mode(R"("Partition")"), "invalid type: unit variant, expected newtype variant at line 1 column 61"},
        {install_with_mode(R"("FreeSpace")"), "invalid type: unit variant, expected tuple variant at line 1 column 61"},
        {install_with_mode(R"({"FreeSpace":[1]})"),
         "invalid length 1, expected tuple variant TargetMode::FreeSpace with 2 elements at line 1 column 66"},
        {install_with_mode(R"({"FreeSpace":{"start":1}})"),
         "invalid type: map, expected tuple variant TargetMode::FreeSpace at line 1 column 74"},
        {install_with_mode(R"({"FreeSpace":[1,-2]})"), "invalid value: integer `-2`, expected u64 at line 1 column 68"},
        {install_with_mode("3"), "invalid value: integer `3`, expected variant index 0 <= i < 3 at line 1 column 51"},
        {install_with_mode(R"({"7":1})"), "invalid value: integer `7`, expected variant index 0 <= i < 3 at line 1 column 54"},
        {install_with_mode(R"("Whole")"),
         "unknown variant `Whole`, expected one of `WholeDisk`, `Partition`, `FreeSpace` at line 1 column 57"},
        {install_with_mode(R"({"WholeDisk":null,"Partition":1})"),
         "invalid value: map, expected map with a single key at line 1 column 82"},
        {install_with_mode(R"({"WholeDisk":1})"), "invalid type: integer `1`, expected unit at line 1 column 64"},
        {install_with_mode("[0]"), "invalid type: sequence, expected string or map at line 1 column 53"},
        {disk_ops("{}"), "invalid type: map, expected a sequence at line 1 column 26"},
        {disk_ops(R"([{"Format":{"disk":"/dev/sda"}}])"),
         "unknown variant `Format`, expected one of `Wipe`, `Delete`, `Resize`, `Create` at line 1 column 34"},
        {disk_ops(R"([{"4":{"disk":"/dev/sda"}}])"),
         "invalid value: integer `4`, expected variant index 0 <= i < 4 at line 1 column 29"},
        {disk_ops(R"(["Wipe"])"), "invalid type: unit variant, expected struct variant at line 1 column 31"},
        {disk_ops(R"([{"Create":{"disk":"/dev/sda","start_byte":1}}])"), "missing field `size_bytes` at line 1 column 69"},
        {disk_ops(R"([{"Create":["/dev/sda",1]}])"),
         "invalid length 2, expected struct variant RemoteDiskOp::Create with 3 elements at line 1 column 49"},
        {disk_ops(R"([{"Delete":{"disk":"/dev/sda","numbers":[1,"2"]}}])"),
         "invalid type: string \"2\", expected u32 at line 1 column 70"},
        {disk_ops(R"([{"Resize":{"disk":"/dev/sda","part":"/dev/sda1","number":1,"current_bytes":1,"new_bytes":1,"fs":7}}])"),
         "invalid type: integer `7`, expected a string at line 1 column 122"},
        {R"({"cmd":"apply_locale","locale":"de","locale":"fr"})", "duplicate field `locale` at line 1 column 44"},
        {R"({"cmd":"apply_locale","locale":null})", "invalid type: null, expected a string at line 1 column 35"},
        {R"({"cmd":"stage_account","username":"u","hostname":"h","password":"p","encrypt":"yes"})",
         "invalid type: string \"yes\", expected a boolean at line 1 column 83"},
        {R"({"cmd":"stage_account","username":"u"})", "missing field `hostname` at line 1 column 38"},
        {R"(["stage_account","u","h","p"])",
         "invalid length 3, expected struct variant Request::StageAccount with 4 elements at line 1 column 29"},
        {R"(["install"])", "invalid length 0, expected struct variant Request::Install with 1 element at line 1 column 11"},
        {R"([])", "invalid length 0, expected internally tagged enum Request at line 1 column 2"},
    };
    for (const auto& c : cases) {
        auto r = Request::deserialize(c.text);
        ASSERT_FALSE(r) << c.text;
        EXPECT_EQ(r.error(), c.error) << c.text;
    }
}

TEST(ProtocolRead, EventReaderErrors) {
    const std::vector<Refuse> cases = {
        {R"({"event":"progress","phase":"Copy","fraction":null})", "invalid type: null, expected f32 at line 1 column 50"},
        {R"({"event":"progress","phase":"Copy","fraction":"0.5"})",
         "invalid type: string \"0.5\", expected f32 at line 1 column 51"},
        {R"({"event":"progress","phase":"Copy"})", "missing field `fraction` at line 1 column 35"},
        {R"({"event":"progress","phase":5,"fraction":0})",
         "invalid value: integer `5`, expected variant index 0 <= i < 5 at line 1 column 29"},
        {R"({"event":"progress","phase":"Install","fraction":0})",
         "unknown variant `Install`, expected one of `Partition`, `Format`, `Copy`, `Bootloader`, `Finalize` at line 1 column 37"},
        {R"({"event":"progress","phase":true,"fraction":0})",
         "invalid type: boolean `true`, expected string or map at line 1 column 32"},
        {R"({"event":"failed"})", "missing field `message` at line 1 column 18"},
        {R"({"event":"finished"})",
         "unknown variant `finished`, expected one of `progress`, `done`, `failed` at line 1 column 19"},
        {R"({"message":"x"})", "missing field `event` at line 1 column 15"},
        {R"("done")", "invalid type: string \"done\", expected internally tagged enum Event at line 1 column 6"},
        {R"({"event":"done"} {"event":"done"})", "trailing characters at line 1 column 18"},
        {R"(["progress","Copy"])", "invalid length 1, expected struct variant Event::Progress with 2 elements at line 1 column 19"},
    };
    for (const auto& c : cases) {
        auto r = Event::deserialize(c.text);
        ASSERT_FALSE(r) << c.text;
        EXPECT_EQ(r.error(), c.error) << c.text;
    }
}

// --- framing ----------------------------------------------------------------

TEST(ProtocolFraming, DaemonReadsTheFirstLineTrimmed) {
    struct Case {
        std::string bytes;
        RequestRead::Status status;
        std::string error;
        Request request = {};
    };
    const std::string huge_pad(MAX_REQUEST_LINE, ' ');
    const std::string fits = R"({"cmd":"cancel_install"})" + std::string(MAX_REQUEST_LINE - 24, ' ');
    const std::vector<Case> cases = {
        {"{\"cmd\":\"cancel_install\"}\n", RequestRead::Status::Ok, "", Request::CancelInstall{}},
        {"{\"cmd\":\"cancel_install\"}", RequestRead::Status::Ok, "", Request::CancelInstall{}},
        {" \t{\"cmd\":\"apply_locale\",\"locale\":\"fr\"}\r\n", RequestRead::Status::Ok, "", Request::ApplyLocale{"fr"}},
        {"{\"cmd\":\"finish_configure\"}\nthis is ignored \xff\n", RequestRead::Status::Ok, "", Request::FinishConfigure{}},
        {"\xc2\xa0{\"cmd\":\"finish_configure\"}\xe3\x80\x80\n", RequestRead::Status::Ok, "", Request::FinishConfigure{}},
        {fits + "\n", RequestRead::Status::Ok, "", Request::CancelInstall{}},
        {"", RequestRead::Status::BadRequest, "bad request: EOF while parsing a value at line 1 column 0"},
        {"\n{\"cmd\":\"cancel_install\"}\n", RequestRead::Status::BadRequest,
         "bad request: EOF while parsing a value at line 1 column 0"},
        {"   \n", RequestRead::Status::BadRequest, "bad request: EOF while parsing a value at line 1 column 0"},
        {"{\"cmd\":\"cancel_install\"} {\"cmd\":\"cancel_install\"}\n", RequestRead::Status::BadRequest,
         "bad request: trailing characters at line 1 column 26"},
        {"{\"cmd\":\"nope\"}\n", RequestRead::Status::BadRequest,
         "bad request: unknown variant `nope`, expected one of `install`, `cancel_install`, `disk_ops`, "
         "`apply_locale`, `stage_account`, `finish_configure` at line 1 column 13"},
        {"{\"cmd\":\"apply_locale\",\"locale\":\"\xff\"}\n", RequestRead::Status::ReadFailed,
         "stream did not contain valid UTF-8"},
        {fits + " \n", RequestRead::Status::BadRequest, "bad request: request line longer than 1048576 bytes"},
        {huge_pad + huge_pad, RequestRead::Status::BadRequest, "bad request: request line longer than 1048576 bytes"},
    };
    for (const auto& c : cases) {
        MemFile in(c.bytes);
        RequestRead r = read_request(in.fd());
        std::string shown = c.bytes.substr(0, 60);
        EXPECT_EQ(r.status, c.status) << shown;
        EXPECT_EQ(r.error, c.error) << shown;
        if (c.status == RequestRead::Status::Ok) {
            EXPECT_TRUE(r.request == c.request) << shown;
        }
    }
}

TEST(ProtocolFraming, DaemonStopsReadingAtTheCap) {
    // A client that never stops sending must not make the daemon buffer it all.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    std::atomic<std::size_t> sent{0};
    std::thread writer([&] {
        std::string chunk(65536, 'x');
        while (sent < 64 * MAX_REQUEST_LINE) {
            ssize_t n = ::send(sv[1], chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += std::size_t(n);
        }
        // A reader without a cap would get to the end of the stream here.
        ::shutdown(sv[1], SHUT_WR);
    });
    RequestRead r = read_request(sv[0]);
    ::shutdown(sv[0], SHUT_RDWR);
    writer.join();
    ::close(sv[0]);
    ::close(sv[1]);
    EXPECT_EQ(r.status, RequestRead::Status::BadRequest);
    EXPECT_LT(sent.load(), 8 * MAX_REQUEST_LINE);
}

TEST(ProtocolFraming, ClientSplitsLinesSkipsBlanksAndAcceptsCrlf) {
    std::string bytes =
        "\n"
        "   \t \n"
        "{\"event\":\"progress\",\"phase\":\"Format\",\"fraction\":0.5}\r\n"
        "\r\n"
        " {\"event\":\"progress\",\"phase\":\"Copy\",\"fraction\":0.75} \n"
        "\xc2\xa0\n"
        "{\"event\":\"done\"}";
    MemFile in(bytes);
    EventReader reader(in.fd());
    std::vector<Event> got;
    while (true) {
        auto e = reader.next();
        ASSERT_TRUE(e) << e.error();
        if (!*e) break;
        got.push_back(**e);
    }
    std::vector<Event> expected = {Event::Progress{InstallPhase::Format, 0.5f},
                                   Event::Progress{InstallPhase::Copy, 0.75f}, Event::Done{}};
    EXPECT_TRUE(got == expected);
}

TEST(ProtocolFraming, ClientReadsEventsArrivingInPieces) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    std::string bytes = "{\"event\":\"progress\",\"phase\":\"Copy\",\"fraction\":0.25}\n{\"event\":\"failed\",\"message\":\"busy\"}\n";
    std::thread writer([&] {
        for (char c : bytes) ASSERT_EQ(::write(sv[1], &c, 1), 1);
        ::close(sv[1]);
    });
    EventReader reader(sv[0]);
    auto a = reader.next();
    auto b = reader.next();
    auto end = reader.next();
    writer.join();
    ::close(sv[0]);
    ASSERT_TRUE(a && *a);
    EXPECT_TRUE(**a == Event(Event::Progress{InstallPhase::Copy, 0.25f}));
    ASSERT_TRUE(b && *b);
    EXPECT_TRUE(**b == Event(Event::Failed{"busy"}));
    ASSERT_TRUE(end);
    EXPECT_FALSE(*end);
}

TEST(ProtocolFraming, ClientReadFailures) {
    struct Case {
        std::string bytes;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"{\"event\":\"done\"} {\"event\":\"done\"}\n", "bad event from daemon: trailing characters at line 1 column 18"},
        {"garbage\n", "bad event from daemon: expected value at line 1 column 1"},
        {"{\"event\":\"failed\",\"message\":\"\xc3\x28\"}\n", "read from daemon: stream did not contain valid UTF-8"},
        {"{\"event\":\"progress\",\"phase\":\"Copy\",\"fraction\":null}\n",
         "bad event from daemon: invalid type: null, expected f32 at line 1 column 50"},
    };
    for (const auto& c : cases) {
        MemFile in(c.bytes);
        EventReader reader(in.fd());
        auto e = reader.next();
        ASSERT_FALSE(e) << c.bytes;
        EXPECT_EQ(e.error(), c.error) << c.bytes;
    }
    EventReader bad_fd(-1);
    auto e = bad_fd.next();
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error(), std::string("read from daemon: ") + std::strerror(EBADF));
}

TEST(ProtocolTypes, DebugFormAndPhaseNames) {
    EXPECT_EQ(debug_string(TargetMode::WholeDisk{}), "WholeDisk");
    EXPECT_EQ(debug_string(TargetMode::Partition{3}), "Partition(3)");
    EXPECT_EQ(debug_string(TargetMode::FreeSpace{1048576, 2097152}), "FreeSpace(1048576, 2097152)");
    EXPECT_EQ(phase_name(InstallPhase::Partition), "Partition");
    EXPECT_EQ(phase_name(InstallPhase::Finalize), "Finalize");
}

}  // namespace
