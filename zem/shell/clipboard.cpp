// The clipboard: copying hands the compositor a source serving the copied
// text; pasting reads the current selection.
#include <zem/shell/text_fields.hpp>

namespace zem {

void offer_clipboard_text(AppData&, std::uint32_t) {}

}  // namespace zem
