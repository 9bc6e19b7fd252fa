#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/slot.hpp>

using namespace zem::theme;

namespace {

// n stops whose positions run backwards, so that file order and sorted order differ.
std::vector<zem::GradientStop> stops(std::size_t n) {
    std::vector<zem::GradientStop> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back({0, 0, 0, 1, static_cast<float>(n - i)});
    return out;
}

}  // namespace

TEST(ThemeSlots, GradientsKeepTheirFirstSixtyFourStopsInFileOrder) {
    struct Case {
        std::size_t declared;
        std::string warning;
    };
    const std::vector<Case> cases = {
        {0, ""},
        {64, ""},
        {65, "[zem theme] gradient declares 65 stops, truncating to 64\n"},
        {100, "[zem theme] gradient declares 100 stops, truncating to 64\n"},
    };
    for (const Case& c : cases) {
        RawSlot raw{zem::LinearGradient{stops(c.declared), 10.0f, zem::GradientSpace::Srgb}, {}};
        testing::internal::CaptureStderr();
        Slot slot = Slot::from_raw(std::move(raw));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning) << c.declared;
        const auto& g = std::get<zem::LinearGradient>(*slot.paint());
        const std::vector<zem::GradientStop> all = stops(c.declared);
        const std::vector<zem::GradientStop> want(all.begin(), all.begin() + std::min<std::size_t>(c.declared, 64));
        EXPECT_EQ(g.stops, want) << c.declared;
        EXPECT_EQ(g.angle_deg, 10.0f);
    }
}

TEST(ThemeSlots, SurfaceFillsAreCutButShadowListsAreNot) {
    const zem::Shadow s{0, 1, 2, 0, {0, 0, 0, 1}, zem::BlendMode::Screen};
    RawSurfaceBody body{zem::Paint(zem::RadialGradient{stops(100), 0.5f, 0.5f, 0.5f, zem::GradientSpace::Oklab}),
                        ShadowsRef{std::string("lift")}, std::vector<zem::Shadow>(100, s)};
    testing::internal::CaptureStderr();
    Slot surface = Slot::from_raw(RawSlot{std::move(body), {}});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[zem theme] gradient declares 100 stops, truncating to 64\n");
    const SlotSurface* got = surface.surface();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::get<zem::RadialGradient>(got->fill).stops.size(), 64u);
    EXPECT_EQ(got->inset_shadows.size(), 100u);
    EXPECT_EQ(*got->shadows.name(), "lift");  // kept as a name until asked for

    Slot shadows = Slot::from_raw(RawSlot{RawSlot::Shadows(100, s), {}});
    EXPECT_EQ(shadows.shadows()->size(), 100u);
}

TEST(ThemeSlots, LookupsByKind) {
    SlotTable table;
    const zem::LinearGradient g{{{1, 0, 0, 1, 0}}, 0.0f, zem::GradientSpace::LinearRgb};
    table.emplace("c", Slot{zem::Color{0.1f, 0.2f, 0.3f, 1}, {}});
    table.emplace("g", Slot{zem::Paint(g), {}});
    table.emplace("s", Slot{Slot::Shadows{}, {}});
    table.emplace("t", Slot{Typography{}, {}});
    struct Case {
        const char* name;
        std::optional<zem::Color> colour;
        std::optional<SlotSurface> surface;
    };
    const std::vector<Case> cases = {
        {"c", zem::Color{0.1f, 0.2f, 0.3f, 1}, SlotSurface{zem::Paint(zem::Color{0.1f, 0.2f, 0.3f, 1}), {}, {}}},
        {"g", std::nullopt, SlotSurface{zem::Paint(g), {}, {}}},
        {"s", std::nullopt, std::nullopt},
        {"t", std::nullopt, std::nullopt},
        {"missing", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(colour_slot(table, c.name), c.colour) << c.name;
        EXPECT_EQ(surface_from_slot(table, c.name), c.surface) << c.name;
    }
}
