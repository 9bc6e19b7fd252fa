#include "app/pages/pages.hpp"

#include "app/installer_app.hpp"
#include "app/scaffolds.hpp"
#include "i18n/translate.hpp"

namespace app {

// Scaffold until the page is built in full: the brand colour alone; the poll
// moves on after three seconds.
zem::Element splash_page(const InstallerApp&) {
    zem::Container c{zem::Element(zem::Spacer{})};
    c.fill = zem::Paint{zem::Color{10.0f / 255.0f, 3.0f / 255.0f, 46.0f / 255.0f, 1.0f}};
    c.radii = {};
    return c;
}

} // namespace app
