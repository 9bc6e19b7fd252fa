#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <zem/theme/error.hpp>

using zem::theme::ThemeError;

TEST(ThemeErrorText, DisplayAndDebugFormsOfEveryVariant) {
    struct Case {
        ThemeError error;
        std::string display;
        std::string debug;
    };
    const std::vector<Case> cases = {
        {ThemeError::io("/t/default/theme.json", "No such file or directory (os error 2)"),
         "reading /t/default/theme.json: No such file or directory (os error 2)",
         "Io(\"/t/default/theme.json\", \"No such file or directory (os error 2)\")"},
        {ThemeError::parse_json("/t/default", "missing field `theme`"), "parsing /t/default: missing field `theme`",
         "ParseJson(\"/t/default\", \"missing field `theme`\")"},
        {ThemeError::not_found("default"), "theme `default` not found in any search path", "NotFound(\"default\")"},
        {ThemeError::invalid_color("`colors` must be an object"),
         "invalid colour ``colors` must be an object` (expected #RRGGBB, #RRGGBBAA or rgb[a](…))",
         "InvalidColor(\"`colors` must be an object\")"},
        {ThemeError::unknown_color_ref("brand"),
         "unknown reference `@brand` (not defined in top-level `colors`, `gradients` or `inset_stacks`)",
         "UnknownColorRef(\"brand\")"},
        {ThemeError::parse_json("/t/a\"b", "bad \\ text\n"), "parsing /t/a\"b: bad \\ text\n",
         "ParseJson(\"/t/a\\\"b\", \"bad \\\\ text\\n\")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.display(), c.display);
        EXPECT_EQ(c.error.debug(), c.debug);
    }
}
