#pragma once
// A wizard over recording effects, in English, for tests that drive `update`.

#include "app/installer_app.hpp"
#include "i18n/translate.hpp"
#include "support/wizard_effects.hpp"

#include <zem/theme/active.hpp>
#include <zem/theme/theme.hpp>

#include <gtest/gtest.h>

#include <memory>

namespace apptest {

struct Scenario {
    bool configure = false;
    bool account_needed = true;
    bool test = false;
};

// The project's own theme in light mode, for tests that read what pages
// draw (colours, sizes, icons).
inline void use_default_theme() {
    auto theme = zem::theme::load_theme_file(TAVIX_SOURCE_DIR "/themes/default");
    ASSERT_TRUE(theme.has_value()) << theme.error().debug();
    zem::theme::set_active(std::move(*theme));
    zem::theme::set_dark_mode(false);
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override { i18n::set_locale("en"); }
    void TearDown() override {
        drop_jobs();
        i18n::set_locale("en");
    }

    // Workers a test left waiting hold the effects they were started with.
    void drop_jobs() {
        if (fx) fx->pending_jobs.clear();
    }

    app::InstallerApp make(Scenario s = {}) {
        drop_jobs();
        fx = std::make_shared<support::RecordingEffects>();
        fx->home = s.account_needed;
        fx->disks = {support::make_disk("/dev/sda", 64ull << 30,
                                        {{"/dev/sda1", std::nullopt, "ext4", 1 << 20, 1 << 30, 1, false, false},
                                         {"/dev/sda", std::nullopt, std::nullopt, (1ull << 30) + (1 << 20),
                                          10ull << 30, 0, true, false}})};
        app::InstallerApp a(std::nullopt, s.test, s.configure, fx);
        fx->clear();
        return a;
    }

    std::shared_ptr<support::RecordingEffects> fx;
};

} // namespace apptest
