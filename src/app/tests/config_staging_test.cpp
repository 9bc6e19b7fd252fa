// The account typed on the account page, staged at the end of the configure
// scenario by the real daemon, rooted in a Debian tree inside a private mount
// namespace as it runs on an installed system. The wizard's client talks to
// that daemon's socket.
//
// Stand-ins: update-initramfs and mkimage (nothing can be rebuilt here) and
// clevis. This machine has no TPM, and staging never binds one: the binding
// is the first boot's work, so the clevis stand-in must see no call.

#include "app_fixture.hpp"
#include "app/pages/pages.hpp"
#include "support/debian_root.hpp"
#include "support/command.hpp"
#include "support/files.hpp"
#include "support/loop_disk.hpp"
#include "support/rooted_process.hpp"
#include "support/view_probe.hpp"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

using app::Msg;
using app::Page;
using i18n::translate;
namespace stdfs = std::filesystem;

unsigned mode_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class PageStaging : public apptest::WizardTest {
protected:
    static void SetUpTestSuite() { apptest::use_default_theme(); }

    void SetUp() override {
        WizardTest::SetUp();
        if (auto why = support::LoopDisk::unavailable()) GTEST_SKIP() << *why;
        auto root = support::debian_root();
        if (!root) GTEST_SKIP() << root.error();
        pristine_ = *root;
    }

    // A writable root whose "/" is mounted from `source`, with the stand-ins.
    std::unique_ptr<support::OverlayRoot> make_root(const std::string& source) {
        auto o = support::OverlayRoot::create(pristine_, source);
        if (!o) {
            ADD_FAILURE() << o.error();
            return nullptr;
        }
        for (const char* s : {"update-initramfs", "mkimage", "clevis"}) support::install_standin((*o)->path(), s);
        return std::move(*o);
    }

    std::unique_ptr<support::RootedProcess> start_daemon(const std::string& root, support::RootedOptions o = {}) {
        o.args = {"daemon"};
        o.private_run_and_state = true;
        auto p = support::RootedProcess::start(TAVIX_INSTALLER_EXE, root, o);
        if (!p) {
            ADD_FAILURE() << p.error();
            return nullptr;
        }
        if (!(*p)->wait_for_log("listening on")) {
            ADD_FAILURE() << "daemon did not start: " << (*p)->log();
            return nullptr;
        }
        std::ofstream((*p)->view() + "/var/lib/tavix-installer/configure-pending");
        return std::move(*p);
    }

    // Types the account into the page's fields, sets the switch, and ends
    // the scenario from the last tutorial step.
    app::InstallerApp stage_from_pages(const std::string& password, bool encrypt) {
        auto a = make({true, true, false});
        fx->forward_daemon = true;
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::Account), 0});
        const std::vector<std::string> values = {"ann", "box", password, password};
        for (std::size_t i = 0; i < values.size(); ++i) {
            auto v = a.view();
            auto fields = support::all<zem::TextEdit>(v);
            EXPECT_EQ(fields.size(), 4u);
            if (fields.size() != 4u) return a;
            a.update(*(*fields[i]->on_change)(values[i])->get<Msg>());
        }
        if (encrypt) a.update(Msg::ToggleEncrypt{});
        auto next = support::message_of(a.view(), translate("common.continue"));
        EXPECT_TRUE(next);
        a.update(Msg::GoTo{static_cast<std::uint8_t>(Page::DockTutorial), 3});
        auto done = support::message_of(a.view(), translate("common.done"));
        EXPECT_TRUE(done);
        if (!done) return a;
        a.update(*done);
        fx->run_jobs();
        a.update(Msg::PollFinish{});
        return a;
    }

    std::string pristine_;
};

TEST_F(PageStaging, AccountAlone) {
    auto root = make_root("overlay");
    ASSERT_TRUE(root);
    auto d = start_daemon(root->path());
    ASSERT_TRUE(d);
    support::PathsGuard paths([&] {
        platform::SystemPaths p;
        p.run_dir = d->view() + "/run/tavix-installer";
        return p;
    }());
    const std::string state = d->view() + "/var/lib/tavix-installer";

    auto a = stage_from_pages("pass word:1 ", false);
    EXPECT_EQ(support::read_file(state + "/account-staged"), "ann\nbox\npass word:1 \n");
    EXPECT_EQ(mode_of(state + "/account-staged"), 0600u);
    for (const char* m : {"/reencrypt-key", "/reencrypt-device"}) EXPECT_FALSE(stdfs::exists(state + m)) << m;
    EXPECT_FALSE(stdfs::exists(root->path() + "/etc/crypttab"));
    EXPECT_TRUE(support::standin_calls(root->path()).empty());
    EXPECT_EQ(fx->calls, (std::vector<std::string>{"spawn", "apply_locale en", "stage_account ann box pass word:1  0",
                                                   "systemctl reboot", "kiosk off", "end 0"}));
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(PageStaging, EncryptionOfAPartitionRoot) {
    auto disk = support::LoopDisk::partitioned(64 << 20, "label: gpt\n,,L\n");
    ASSERT_TRUE(disk) << disk.error();
    auto js = support::run_command({"sfdisk", "--json", disk->path()});
    auto at = js.out.find("\"uuid\":");
    ASSERT_NE(at, std::string::npos) << js.out;
    const std::string partuuid = lower(js.out.substr(js.out.find('"', at + 7) + 1, 36));
    auto root = make_root(disk->part(1));
    ASSERT_TRUE(root);
    support::RootedOptions o;
    o.dev_nodes = {disk->name(), stdfs::path(disk->part(1)).filename().string()};
    auto d = start_daemon(root->path(), o);
    ASSERT_TRUE(d);
    support::PathsGuard paths([&] {
        platform::SystemPaths p;
        p.run_dir = d->view() + "/run/tavix-installer";
        return p;
    }());
    const std::string state = d->view() + "/var/lib/tavix-installer";

    auto a = stage_from_pages("s3cret pass", true);
    EXPECT_EQ(support::read_file(state + "/account-staged"), "ann\nbox\ns3cret pass\n");
    EXPECT_EQ(support::read_file(state + "/reencrypt-key"), "s3cret pass");
    EXPECT_EQ(support::read_file(state + "/reencrypt-device"), partuuid);
    for (const char* m : {"/account-staged", "/reencrypt-key", "/reencrypt-device"})
        EXPECT_EQ(mode_of(state + m), 0600u) << m;
    EXPECT_EQ(support::read_file(root->path() + "/etc/crypttab"),
              "tavix_crypt\tPARTUUID=" + partuuid + "\tnone\tluks,discard\n");
    // The initramfs is refreshed; nothing is bound to a TPM yet.
    EXPECT_EQ(support::standin_calls(root->path()), std::vector<std::string>{"update-initramfs -u"});
    EXPECT_EQ(a.page, Page::Done);
}

TEST_F(PageStaging, ARefusedEncryptionIsShownOnThePage) {
    // "/" of an overlay names no partition: there is nothing to encrypt.
    auto root = make_root("overlay");
    ASSERT_TRUE(root);
    auto d = start_daemon(root->path());
    ASSERT_TRUE(d);
    support::PathsGuard paths([&] {
        platform::SystemPaths p;
        p.run_dir = d->view() + "/run/tavix-installer";
        return p;
    }());
    testing::internal::CaptureStderr();
    auto a = stage_from_pages("s3cret pass", true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("installer: stage account: cannot resolve the root partition\n"), std::string::npos) << err;
    EXPECT_EQ(a.page, Page::DockTutorial);
    EXPECT_TRUE(support::shows(a.view(), "cannot resolve the root partition"));
    EXPECT_TRUE(support::message_of(a.view(), translate("common.done")));
    for (const auto& c : fx->calls) EXPECT_NE(c, "systemctl reboot");
    EXPECT_TRUE(support::standin_calls(root->path()).empty());
}

} // namespace
