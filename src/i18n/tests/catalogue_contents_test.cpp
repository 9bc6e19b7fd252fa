#include "i18n/translate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace i18n {
namespace {

constexpr std::array<std::string_view, 10> kCodes = {"de", "en", "es", "fr", "hi",
                                                     "ja", "ko", "pt", "ru", "zh"};

// Keys whose text is the same in every language.
const std::map<std::string_view, std::string_view> kSameEverywhere = {
    {"account.hostname_ph", "tavix"}, {"disk.resize_pending", "→ %{size}"}, {"security.pin_title", "PIN"},
    {"storage.dropbox", "Dropbox"},   {"storage.proton", "Proton"},
};

// The English texts, apart from the example e-mail address, which is ours.
const std::map<std::string_view, std::string_view> kEnglish = {
    {"_meta.endonym", "English"},
    {"account.encrypt_hint", "Unlocks automatically with the TPM; without one, the account password is asked at boot."},
    {"account.encrypt_no_tpm", "This device has no TPM: the password will be required at every boot before the system starts."},
    {"account.encrypt_title", "Encrypt the disk"},
    {"account.hostname", "Device name"},
    {"account.hostname_ph", "tavix"},
    {"account.password", "Password"},
    {"account.password_confirm", "Repeat password"},
    {"account.password_confirm_ph", "Same password again."},
    {"account.password_mismatch", "Passwords do not match."},
    {"account.password_ph", "Choose a password."},
    {"account.subtitle", "You will use it to sign in to the installed system."},
    {"account.title", "Create your account"},
    {"account.username", "Username"},
    {"account.username_hint", "Lowercase letters, numbers and dashes only."},
    {"account.username_ph", "Lowercase, no spaces"},
    {"common.back", "Back"},
    {"common.continue", "Continue"},
    {"common.done", "Done"},
    {"common.next", "Next"},
    {"common.skip_for_now", "Skip for now"},
    {"common.skip_tutorial", "Skip tutorial"},
    {"disk.add_subtitle", "Drag to set the new partition size."},
    {"disk.add_summary", "%{size}  (min %{min}, max %{max})"},
    {"disk.add_title", "Add partition"},
    {"disk.apply", "Apply changes"},
    {"disk.applying", "Applying changes…"},
    {"disk.confirm_no", "Cancel"},
    {"disk.confirm_subtitle", "These operations will be written to disk and cannot be undone."},
    {"disk.confirm_title", "Apply pending changes?"},
    {"disk.confirm_yes", "Yes, apply"},
    {"disk.dialog_accept", "Accept"},
    {"disk.dialog_cancel", "Cancel"},
    {"disk.discard", "Discard"},
    {"disk.error_dismiss", "OK"},
    {"disk.error_title", "Something went wrong"},
    {"disk.free_space", "Free space"},
    {"disk.install_confirm_subtitle", "All data on the selected target will be erased during installation. This cannot be undone."},
    {"disk.install_confirm_title", "Erase data on %{target}?"},
    {"disk.op_create", "Create %{size} partition on %{disk}"},
    {"disk.op_delete", "Delete partition %{num} on %{disk}"},
    {"disk.op_resize", "Resize partition %{num} on %{disk} to %{size}"},
    {"disk.op_wipe", "Wipe partition table on %{disk}"},
    {"disk.partition", "Partition %{num}"},
    {"disk.partition_new", "New partition"},
    {"disk.resize_added", "Added: %{size}"},
    {"disk.resize_freed", "Freed: %{size}"},
    {"disk.resize_pending", "→ %{size}"},
    {"disk.resize_subtitle", "Drag to set the new on-disk size. The filesystem inside is not resized."},
    {"disk.resize_summary", "%{size}  (min %{min}, current %{max})"},
    {"disk.resize_title", "Resize partition"},
    {"disk.resize_unknown_fs_warning", "This partition has no recognised filesystem. Resizing it only rewrites the table entry — any data inside that gets cut off will be lost."},
    {"disk.subtitle", "Select a drive or partition from the list below to begin the setup."},
    {"disk.title", "Choose where to install"},
    {"error.cancelled", "Installation cancelled."},
    {"error.free_space_gone", "The selected free space is no longer available."},
    {"error.install_busy", "An install is already running."},
    {"error.mbr_full", "The partition table on %{disk} is full: encryption needs an extra partition for /boot. Install without encryption or select the whole disk."},
    {"error.no_daemon", "The installer service is not running (tavix-installer-daemon). Reboot the installation medium and try again."},
    {"error.no_target", "No install target selected."},
    {"error.not_pending", "No install is pending on this system."},
    {"error.target_is_live", "%{disk} holds the running system."},
    {"error.target_too_small", "The target has %{have} GB but the system needs at least %{need} GB."},
    {"finish.bullet_1", "Fully encrypted system."},
    {"finish.bullet_2", "Active privacy settings."},
    {"finish.bullet_3", "Custom theme applied."},
    {"finish.cta", "Discover your device"},
    {"finish.hint", "You can change these options later"},
    {"finish.install_cta", "Restart now"},
    {"finish.install_remove_medium", "Remove the installation medium before restarting."},
    {"finish.install_subtitle", "Tavix OS has been installed on this device."},
    {"finish.install_title", "Installation complete"},
    {"finish.subtitle", "Tavix OS is ready. You now have control over your digital life."},
    {"finish.title", "Full configuration"},
    {"language.title", "Choose your language"},
    {"navigation.buttons_subtitle", "Classic controls: Back, Home, and Recents."},
    {"navigation.buttons_title", "3-Button Navigation"},
    {"navigation.gestures_subtitle", "Swipe to navigate. Clean and modern."},
    {"navigation.gestures_title", "Gestures"},
    {"navigation.subtitle", "Select how you want to interact with Tavix OS."},
    {"navigation.title", "Choose your navigation"},
    {"permissions.camera_sub", "Allow camera access."},
    {"permissions.camera_title", "Camera"},
    {"permissions.card_1", "You're in control of your permissions."},
    {"permissions.card_2", "Apps must request explicit access."},
    {"permissions.card_3", "No default access to sensitive data."},
    {"permissions.card_title", "Your privacy, prioritized"},
    {"permissions.location_sub", "Allow access to your location."},
    {"permissions.location_title", "Location"},
    {"permissions.microphone_sub", "App microphone access."},
    {"permissions.microphone_title", "Microphone"},
    {"permissions.notifications_sub", "Receive system alerts."},
    {"permissions.notifications_title", "Notifications"},
    {"permissions.subtitle", "You decide what your apps can see and do. Change your settings at any time."},
    {"permissions.title", "Set up Privacy & Permissions"},
    {"progress.cancel", "Cancel installation"},
    {"progress.cancel_confirm_no", "Continue installing"},
    {"progress.cancel_confirm_subtitle", "The target disk will be left incomplete and unbootable."},
    {"progress.cancel_confirm_title", "Cancel the installation?"},
    {"progress.cancel_confirm_yes", "Yes, cancel"},
    {"progress.phase_bootloader", "Installing the boot loader…"},
    {"progress.phase_copy", "Copying the system…"},
    {"progress.phase_finalize", "Finishing up…"},
    {"progress.phase_format", "Formatting partitions…"},
    {"progress.phase_partition", "Preparing the target disk…"},
    {"progress.subtitle", "This may take a few minutes…"},
    {"progress.title", "Setting up your system"},
    {"proton.email", "Email address"},
    {"proton.full_name", "Full name"},
    {"proton.full_name_ph", "First name and last name."},
    {"proton.legal", "By proceeding, you agree to our Terms of Service and Privacy Policy."},
    {"proton.password", "Password"},
    {"proton.password_hint", "Use a mix of letters, numbers, and symbols."},
    {"proton.password_ph", "Must be at least 8 characters."},
    {"proton.password_show", "Show"},
    {"proton.skip", "Skip for now (Not recommended)"},
    {"proton.submit", "Sign in or Create account"},
    {"proton.subtitle", "Sign in or create a Proton account to sync and protect your data."},
    {"proton.title", "Sign in with Proton"},
    {"proton.why_1", "Sync settings across devices."},
    {"proton.why_2", "Automatic, encrypted backups."},
    {"proton.why_3", "Access to premium features."},
    {"proton.why_title", "Why use a Proton account?"},
    {"security.card", "Your biometrics are encrypted and stored locally. They are never uploaded, shared, or accessible by the system."},
    {"security.cta", "Select security method"},
    {"security.face_sub", "Touchless access."},
    {"security.face_title", "Face unlock"},
    {"security.fingerprint_about", "About Privacy & Biometrics"},
    {"security.fingerprint_done_subtitle", "You registered your fingerprint for your biometric security."},
    {"security.fingerprint_done_title", "Well done!"},
    {"security.fingerprint_finish", "Finish set up"},
    {"security.fingerprint_register_hint", "Place your finger on the sensor. Hold until you feel a vibration."},
    {"security.fingerprint_register_more", "Register another fingerprint"},
    {"security.fingerprint_register_title", "Register your fingerprint"},
    {"security.fingerprint_set_up_later", "Set up later"},
    {"security.fingerprint_step_1", "Center your finger."},
    {"security.fingerprint_step_2", "Lift and rotate."},
    {"security.fingerprint_step_3", "Fill the edges to finish."},
    {"security.fingerprint_sub", "Swift and secure access."},
    {"security.fingerprint_title", "Fingerprint unlock"},
    {"security.pattern_sub", "Draw your security pattern."},
    {"security.pattern_title", "Pattern"},
    {"security.pin_sub", "Choose a numeric code."},
    {"security.pin_title", "PIN"},
    {"security.subtitle", "Configure an extra layer of protection; you can use your unique biometric data."},
    {"security.title", "Set your security method"},
    {"storage.dropbox", "Dropbox"},
    {"storage.external_hint", "Or you can sign in or create an external account:"},
    {"storage.local", "Save in local device"},
    {"storage.proton", "Proton"},
    {"storage.recommended", "Recommended option:"},
    {"storage.title", "Choose where to save your digital data"},
    {"tutorial_gestures.intro_cta", "Learn how"},
    {"tutorial_gestures.intro_subtitle", "Navigate Tavix with precision in this brief guide to essential gestures."},
    {"tutorial_gestures.intro_title", "Master the gestures"},
    {"tutorial_gestures.step_1_subtitle", "Return to the Home Screen from any app."},
    {"tutorial_gestures.step_1_title", "Swipe up"},
    {"tutorial_gestures.step_2_subtitle", "Go back to your previous screen instantly."},
    {"tutorial_gestures.step_2_title", "Swipe from the edge"},
    {"tutorial_gestures.step_3_subtitle", "View recent apps and manage multitasking."},
    {"tutorial_gestures.step_3_title", "Pinch with three fingers"},
    {"tutorial_trovex.intro_bullet_1", "Work or enjoy on two desktops at once."},
    {"tutorial_trovex.intro_bullet_2", "Customized modes for your workflow."},
    {"tutorial_trovex.intro_bullet_3", "Instant, lag-free transitions."},
    {"tutorial_trovex.intro_cta", "Learn how"},
    {"tutorial_trovex.intro_subtitle", "Use Dualvane to extend your screen securely. Experience a seamless transition from mobile to workstation."},
    {"tutorial_trovex.intro_title", "Link, extend, and do more"},
    {"tutorial_trovex.step_1_subtitle", "Plug your dock into an external display and connect it to Wi-Fi."},
    {"tutorial_trovex.step_1_title", "Connect to a monitor"},
    {"tutorial_trovex.step_2_subtitle", "Open Quick Settings on your phone and select Dualvane to begin."},
    {"tutorial_trovex.step_2_title", "Launch Dualvane"},
    {"tutorial_trovex.step_3_subtitle", "Scan the QR code to activate your dual-desktop workspace. Professional power, right in your hand."},
    {"tutorial_trovex.step_3_title", "Scan to expand"},
    {"welcome.bullet_1", "We never store, track or sell your data."},
    {"welcome.bullet_2", "Your information is end-to-end encrypted."},
    {"welcome.bullet_3", "Open source code, so you can trust it."},
    {"welcome.bullet_4", "Extend your screen to other desktops with Dualvane."},
    {"welcome.cta", "Get started"},
    {"welcome.duration", "Setup will take about 3 minutes."},
    {"welcome.subtitle", "Take back control of your digital life with software that puts you first."},
    {"welcome.title", "Welcome to Tavix OS"},
    {"wireless.add_manually", "Add network manually"},
    {"wireless.connect", "Connect"},
    {"wireless.connecting", "Connecting to %{ssid}…"},
    {"wireless.manual_ssid_ph", "Network name (SSID)"},
    {"wireless.manual_subtitle", "Enter the network name; leave the password empty for open networks."},
    {"wireless.manual_title", "Add network"},
    {"wireless.password_placeholder", "Password"},
    {"wireless.password_subtitle", "Enter the network password to continue."},
    {"wireless.password_title", "Connect to %{ssid}"},
    {"wireless.subtitle", "We will secure your connection as soon as you're online."},
    {"wireless.title", "Connect to Wi-Fi"},
    {"wireless.use_cellular", "Use cellular data"},
};

using Texts = std::map<std::string, std::map<std::string, std::string>>;

Texts walk(const Catalogue& table) {
    Texts texts;
    table.for_each([&](std::string_view code, std::string_view key, std::string_view text) {
        texts[std::string(code)][std::string(key)] = std::string(text);
    });
    return texts;
}

const Texts& compiled() {
    static const Texts texts = walk(build_catalogue());
    return texts;
}

const std::string& text_of(std::string_view code, std::string_view key) {
    return compiled().at(std::string(code)).at(std::string(key));
}

// The placeholder names of a text, sorted, repeats kept.
std::vector<std::string> placeholders(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t at = text.find("%{"); at != std::string_view::npos; at = text.find("%{", at + 2)) {
        const std::size_t end = text.find('}', at + 2);
        if (end == std::string_view::npos) {
            break;
        }
        names.emplace_back(text.substr(at + 2, end - at - 2));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<char32_t> code_points(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        for (int k = 1; k < len && i + k < text.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

TEST(I18nContents, TenLanguagesEachWithEnglishsKeys) {
    const Texts& texts = compiled();
    ASSERT_EQ(texts.size(), kCodes.size());
    std::set<std::string> english_keys;
    for (const auto& [key, text] : texts.at("en")) {
        english_keys.insert(key);
    }
    EXPECT_EQ(english_keys.size(), 194u);
    for (auto code : kCodes) {
        ASSERT_TRUE(texts.contains(std::string(code))) << code;
        std::set<std::string> keys;
        for (const auto& [key, text] : texts.at(std::string(code))) {
            keys.insert(key);
            EXPECT_FALSE(text.empty()) << code << " " << key;
        }
        EXPECT_EQ(keys, english_keys) << code;
    }
}

TEST(I18nContents, EnglishTextsAreTheWizardsVocabulary) {
    for (const auto& [key, text] : kEnglish) {
        EXPECT_EQ(text_of("en", key), text) << key;
    }
    EXPECT_EQ(kEnglish.size() + 1, compiled().at("en").size());
}

TEST(I18nContents, EmailPlaceholderIsAnAddressInEveryLanguage) {
    for (auto code : kCodes) {
        const std::string& text = text_of(code, "proton.email_ph");
        const auto at = text.find('@');
        EXPECT_TRUE(at != std::string::npos && at > 0 && text.find('.', at) != std::string::npos &&
                    text.find(' ') == std::string::npos)
            << code << ": " << text;
    }
}

TEST(I18nContents, FixedRowsOfEveryLanguage) {
    struct Row {
        std::string_view endonym, op_resize, add_summary, resize_summary;
    };
    const std::map<std::string_view, Row> rows = {
        {"de", {"Deutsch", "Partition %{num} auf %{disk} auf %{size} ändern",
                "%{size}  (min %{min}, max %{max})", "%{size}  (min %{min}, aktuell %{max})"}},
        {"en", {"English", "Resize partition %{num} on %{disk} to %{size}",
                "%{size}  (min %{min}, max %{max})", "%{size}  (min %{min}, current %{max})"}},
        {"es", {"Español", "Redimensionar partición %{num} de %{disk} a %{size}",
                "%{size}  (mín. %{min}, máx. %{max})", "%{size}  (mín %{min}, actual %{max})"}},
        {"fr", {"Français", "Redimensionner la partition %{num} de %{disk} à %{size}",
                "%{size}  (min %{min}, max %{max})", "%{size}  (min %{min}, actuel %{max})"}},
        {"hi", {"हिन्दी", "%{disk} पर विभाजन %{num} का आकार %{size} करें",
                "%{size}  (न्यूनतम %{min}, अधिकतम %{max})", "%{size}  (न्यूनतम %{min}, वर्तमान %{max})"}},
        {"ja", {"日本語", "%{disk} のパーティション %{num} を %{size} に変更",
                "%{size}（最小 %{min}、最大 %{max}）", "%{size}（最小 %{min}、現在 %{max}）"}},
        {"ko", {"한국어", "%{disk}의 파티션 %{num}을(를) %{size}로 크기 조정",
                "%{size}（최소 %{min}, 최대 %{max}）", "%{size}（최소 %{min}, 현재 %{max}）"}},
        {"pt", {"Português", "Redimensionar partição %{num} em %{disk} para %{size}",
                "%{size}  (mín. %{min}, máx. %{max})", "%{size}  (mín. %{min}, atual %{max})"}},
        {"ru", {"Русский", "Изменить размер раздела %{num} на %{disk} до %{size}",
                "%{size}  (мин. %{min}, макс. %{max})", "%{size}  (мин. %{min}, текущий %{max})"}},
        {"zh", {"中文", "将 %{disk} 上的分区 %{num} 调整为 %{size}",
                "%{size}（最小 %{min}，最大 %{max}）", "%{size}（最小 %{min}，当前 %{max}）"}},
    };
    for (const auto& [code, row] : rows) {
        EXPECT_EQ(text_of(code, "_meta.endonym"), row.endonym) << code;
        EXPECT_EQ(text_of(code, "disk.op_resize"), row.op_resize) << code;
        EXPECT_EQ(text_of(code, "disk.add_summary"), row.add_summary) << code;
        EXPECT_EQ(text_of(code, "disk.resize_summary"), row.resize_summary) << code;
        for (const auto& [key, text] : kSameEverywhere) {
            EXPECT_EQ(text_of(code, key), text) << code << " " << key;
        }
    }
}

TEST(I18nContents, SizeUnitOfTheTooSmallRefusal) {
    const std::map<std::string_view, std::string_view> unit = {{"fr", "Go"}, {"ru", "ГБ"}};
    for (auto code : kCodes) {
        const std::string& text = text_of(code, "error.target_too_small");
        const std::string want = std::string(unit.contains(code) ? unit.at(code) : "GB");
        for (std::string_view name : {"%{have} ", "%{need} "}) {
            EXPECT_NE(text.find(std::string(name) + want), std::string::npos) << code << ": " << text;
        }
        if (unit.contains(code)) {
            EXPECT_EQ(text.find("GB"), std::string::npos) << code << ": " << text;
        }
    }
}

TEST(I18nContents, PlaceholdersMatchEnglishAndOnlyWhereExpected) {
    const std::map<std::string, std::vector<std::string>> expected = {
        {"disk.add_summary", {"max", "min", "size"}},
        {"disk.install_confirm_title", {"target"}},
        {"disk.op_create", {"disk", "size"}},
        {"disk.op_delete", {"disk", "num"}},
        {"disk.op_resize", {"disk", "num", "size"}},
        {"disk.op_wipe", {"disk"}},
        {"disk.partition", {"num"}},
        {"disk.resize_added", {"size"}},
        {"disk.resize_freed", {"size"}},
        {"disk.resize_pending", {"size"}},
        {"disk.resize_summary", {"max", "min", "size"}},
        {"error.mbr_full", {"disk"}},
        {"error.target_is_live", {"disk"}},
        {"error.target_too_small", {"have", "need"}},
        {"wireless.connecting", {"ssid"}},
        {"wireless.password_title", {"ssid"}},
    };
    ASSERT_EQ(expected.size(), 16u);
    for (auto code : kCodes) {
        for (const auto& [key, text] : compiled().at(std::string(code))) {
            const auto want = expected.contains(key) ? expected.at(key) : std::vector<std::string>{};
            EXPECT_EQ(placeholders(text), want) << code << " " << key << ": " << text;
        }
    }
}

TEST(I18nContents, NonLatinLanguagesAreWrittenInTheirScript) {
    struct Script {
        std::string_view code;
        std::vector<std::pair<char32_t, char32_t>> ranges;
    };
    const std::vector<Script> scripts = {
        {"hi", {{0x0900, 0x097F}}},                                     // Devanagari
        {"ru", {{0x0400, 0x04FF}}},                                     // Cyrillic
        {"ja", {{0x3040, 0x309F}, {0x30A0, 0x30FF}, {0x4E00, 0x9FFF}}}, // kana, kanji
        {"ko", {{0xAC00, 0xD7AF}}},                                     // Hangul
        {"zh", {{0x4E00, 0x9FFF}}},                                     // Han
    };
    for (const auto& script : scripts) {
        for (const auto& [key, text] : compiled().at(std::string(script.code))) {
            if (kSameEverywhere.contains(key) || key == "proton.email_ph") {
                continue;
            }
            const auto cps = code_points(text);
            const bool found = std::any_of(cps.begin(), cps.end(), [&](char32_t c) {
                return std::any_of(script.ranges.begin(), script.ranges.end(),
                                   [c](auto r) { return c >= r.first && c <= r.second; });
            });
            EXPECT_TRUE(found) << script.code << " " << key << ": " << text;
        }
    }
}

TEST(I18nContents, TranslationsDifferFromEnglish) {
    // Where another language's text may equal the English one: the texts that
    // are the same everywhere, the summaries that read the same in German and
    // French, and one word French shares with English.
    std::set<std::pair<std::string_view, std::string_view>> allowed = {
        {"de", "disk.add_summary"},
        {"fr", "disk.add_summary"},
        {"fr", "permissions.notifications_title"},
    };
    for (auto code : kCodes) {
        if (code == "en") {
            continue;
        }
        for (const auto& [key, text] : compiled().at(std::string(code))) {
            if (kSameEverywhere.contains(key) || allowed.contains({code, key})) {
                continue;
            }
            EXPECT_NE(text, text_of("en", key)) << code << " " << key;
        }
    }
}

TEST(I18nContents, NamesStayUntranslated) {
    for (std::string_view name : {"Tavix OS", "Tavix", "Dualvane", "Proton", "Dropbox", "TPM"}) {
        for (const auto& [key, english] : compiled().at("en")) {
            if (english.find(name) == std::string::npos) {
                continue;
            }
            for (auto code : kCodes) {
                EXPECT_NE(text_of(code, key).find(name), std::string::npos)
                    << code << " " << key << " lacks " << name << ": " << text_of(code, key);
            }
        }
    }
}

TEST(I18nContents, TellingRows) {
    EXPECT_EQ(try_translate("hi", "storage.dropbox"), "Dropbox");
    EXPECT_EQ(try_translate("hi", "security.pin_title"), "PIN");

    const std::vector<std::string_view> names = {"size", "min", "max"};
    const std::vector<std::string_view> values = {"12 GB", "1 GB", "30 GB"};
    EXPECT_EQ(fill_placeholders(*try_translate("en", "disk.resize_summary"), names, values),
              "12 GB  (min 1 GB, current 30 GB)");
    const std::string ja = fill_placeholders(*try_translate("ja", "disk.resize_summary"), names, values);
    EXPECT_EQ(ja, "12 GB（最小 1 GB、現在 30 GB）");
    EXPECT_EQ(ja.find(" （"), std::string::npos);

    const std::string zh = fill_placeholders(*try_translate("zh", "disk.op_resize"), {"num", "disk", "size"},
                                             {"3", "/dev/sda", "20 GB"});
    EXPECT_EQ(zh, "将 /dev/sda 上的分区 3 调整为 20 GB");
    EXPECT_LT(zh.find("/dev/sda"), zh.find('3'));

    for (auto code : kCodes) {
        for (std::string_view key : {"_meta.endonym", "language.title", "disk.resize_pending", "proton.password_show"}) {
            EXPECT_TRUE(try_translate(code, key).has_value()) << code << " " << key;
        }
    }
}

TEST(I18nContents, BuildingLeavesTheCurrentLanguage) {
    set_locale("ko");
    const Catalogue table = build_catalogue();
    EXPECT_EQ(*current_locale(), "ko");
    EXPECT_EQ(table.language_count(), kCodes.size());
    set_locale("en");
}

} // namespace
} // namespace i18n
