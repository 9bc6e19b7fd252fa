// Renders a small example page (a few of each element kind) to PNG files in
// the build tree, in light and dark mode and in Hindi and Japanese, so the
// painters can be looked at. The checks here only make sure each picture was
// drawn; the pictures are for the eye.

#include <cairo.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/frame/layout_and_draw.hpp>
#include <zem/theme/active.hpp>
#include <zem/widgets/dialog.hpp>
#include <zem/widgets/element.hpp>

#include "fixture.hpp"

namespace zem {
namespace {

struct Texts {
    std::string title;
    std::string body;
    std::string next;
    std::string back;
    std::string skip;
    std::string name_placeholder;
    std::string wifi;
    std::string encrypt;
    std::string terms;
    std::string link;
    std::string item;
    std::string item_sub;
};

const Texts english{"Create your account",
                    "Choose a name and a password. You can change both later in the settings of the installed system.",
                    "Next", "Back", "Skip", "Your name", "Wi-Fi", "Encrypt the disk",
                    "By continuing you accept the licence terms of this system.", "licence terms",
                    "Samsung SSD 980", "500.1 GB · NVMe"};
const Texts hindi{"अपना खाता बनाएँ",
                  "एक नाम और पासवर्ड चुनें। आप इन्हें बाद में इंस्टॉल किए गए सिस्टम की सेटिंग्स में बदल सकते हैं।",
                  "आगे", "पीछे", "छोड़ें", "आपका नाम", "वाई-फ़ाई", "डिस्क एन्क्रिप्ट करें",
                  "जारी रखकर आप इस सिस्टम की लाइसेंस शर्तें स्वीकार करते हैं।", "लाइसेंस शर्तें",
                  "Samsung SSD 980", "500.1 GB · NVMe"};
const Texts japanese{"アカウントを作成",
                     "名前とパスワードを選んでください。どちらもインストール後のシステムの設定で後から変更できます。",
                     "次へ", "戻る", "スキップ", "名前", "Wi-Fi", "ディスクを暗号化する",
                     "続行すると、このシステムのライセンス条項に同意したことになります。", "ライセンス条項",
                     "Samsung SSD 980", "500.1 GB · NVMe"};

Element text(std::string s, float size, Color color, bool wrap = false, std::uint16_t weight = 0) {
    Text t;
    t.text = std::move(s);
    t.size = Length::px(size);
    t.color = color;
    t.wrap = wrap;
    if (weight != 0) t.font_weight(weight);
    return t;
}

Element button(std::string label, ButtonStyle style, bool enabled) {
    Button b;
    b.content = std::move(label);
    b.style = style;
    if (enabled) b.on_press = Message(1);
    return b;
}

Element page(const Texts& t) {
    const Palette p = theme::palette();
    Column body;
    body.spacing = Length::px(12);
    body.padding = Length::px(24);
    body.center_x = false;
    body.children.push_back(text(t.title, 24, p.text_primary, false, 700));
    body.children.push_back(text(t.body, 14, p.text_secondary, true));

    TextEdit name;
    name.placeholder = t.name_placeholder;
    body.children.push_back(name);
    TextEdit password;
    password.value = "hunter22";
    password.password = true;
    password.reveal = Reveal{false, Message(2)};
    body.children.push_back(password);

    Row toggles;
    toggles.spacing = Length::px(16);
    Switch wifi;
    wifi.label = t.wifi;
    wifi.on = true;
    toggles.children.push_back(wifi);
    Checkbox encrypt;
    encrypt.label = t.encrypt;
    encrypt.checked = true;
    toggles.children.push_back(encrypt);
    body.children.push_back(std::move(toggles));

    Row radios;
    radios.spacing = Length::px(16);
    for (int i = 0; i < 3; ++i) {
        RadioButton r;
        r.label = std::string(1, static_cast<char>('A' + i));
        r.selected = i == 1;
        radios.children.push_back(r);
    }
    Spinner spin;
    spin.color = p.accent;
    spin.phase = 0.3f;
    radios.children.push_back(spin);
    body.children.push_back(std::move(radios));

    Slider slider;
    slider.value = 0.6f;
    body.children.push_back(slider);
    body.children.push_back(ProgressBar{p.accent, 0.35f});
    body.children.push_back(Divider{std::nullopt, std::nullopt, p.divider});

    ListItem item;
    item.title = t.item;
    item.subtitle = t.item_sub;
    item.trailing_text = "✓";
    item.selected = false;
    Column list;
    list.children.push_back(item);
    ListItem second = item;
    second.selected = true;
    list.children.push_back(second);
    body.children.push_back(std::move(list));

    RichText terms;
    terms.text = t.terms;
    const std::size_t at = t.terms.find(t.link);
    if (at != std::string::npos) terms.links.push_back({Message(3), at, at + t.link.size()});
    terms.color = p.text_secondary;
    terms.link_color = p.accent;
    terms.size = Length::px(14);
    body.children.push_back(terms);

    body.children.push_back(Spacer{});
    Row actions;
    actions.spacing = Length::px(8);
    actions.children.push_back(button(t.skip, ButtonStyle::Plain, true));
    actions.children.push_back(Spacer{});
    actions.children.push_back(button(t.back, ButtonStyle::Outlined, true));
    actions.children.push_back(button(t.next, ButtonStyle::Filled, true));
    body.children.push_back(std::move(actions));

    Container frame{Element(std::move(body))};
    frame.fill = Paint{p.bg_page};
    return frame;
}

Element with_dialog(Element base, const Texts& t) {
    Dialog d;
    d.title = t.title;
    d.subtitle = t.body;
    d.actions.push_back(button(t.back, ButtonStyle::Outlined, true));
    d.actions.push_back(button(t.next, ButtonStyle::Filled, true));
    d.max_width = Length::px(360);
    Stack s;
    s.push(std::move(base), Align::Stretch, Align::Stretch, 0);
    s.push(std::move(d).into_element(), Align::Stretch, Align::Stretch, 0);
    return s;
}

bool write_png(const Canvas& canvas, const std::filesystem::path& path) {
    const int w = static_cast<int>(canvas.width());
    const int h = static_cast<int>(canvas.height());
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(w) * h * 4);
    canvas.copy_to_buffer(bgra, true);  // premultiplied B, G, R, A: Cairo's ARGB32 in memory
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    const int stride = cairo_image_surface_get_stride(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < h; ++y) std::memcpy(data + y * stride, bgra.data() + static_cast<std::size_t>(y) * w * 4, w * 4);
    cairo_surface_mark_dirty(surface);
    const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

TEST(ExamplePage, RendersToPng) {
    const std::filesystem::path dir = std::filesystem::path(TAVIX_BINARY_DIR) / "widget-pages";
    std::filesystem::create_directories(dir);
    struct Case {
        std::string name;
        const Texts* texts;
        bool dark;
        bool dialog;
    };
    const std::vector<Case> cases = {
        {"light-en", &english, false, false}, {"dark-en", &english, true, false},
        {"light-hi", &hindi, false, false},   {"dark-ja", &japanese, true, false},
        {"light-en-dialog", &english, false, true},
    };
    for (const Case& c : cases) {
        testing::use_test_theme(c.dark);
        Canvas canvas = testing::phone_canvas(412, 900);
        Element root = page(*c.texts);
        if (c.dialog) root = with_dialog(std::move(root), *c.texts);
        FrameLayout layout;
        layout.focused = 4;  // the password field
        layout_and_draw(root, canvas, Rect{0, 0, 412, 900}, layout, 0);
        EXPECT_FALSE(layout.regions.empty()) << c.name;
        EXPECT_TRUE(write_png(canvas, dir / (c.name + ".png"))) << c.name;
        // Something other than the page colour was drawn in the middle band.
        const testing::Rgba corner = testing::pixel(canvas, 2, 2);
        bool varied = false;
        for (std::uint32_t y = 100; y < 800 && !varied; y += 3) {
            const testing::Rgba p = testing::pixel(canvas, 206, static_cast<float>(y));
            varied = p.r != corner.r || p.g != corner.g || p.b != corner.b;
        }
        EXPECT_TRUE(varied) << c.name;
    }
}

}  // namespace
}  // namespace zem
