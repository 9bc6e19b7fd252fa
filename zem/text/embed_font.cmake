# Writes OUTPUT, a C++ source holding the bytes of the font file INPUT.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#include <cstddef>
#include <cstdint>
namespace zem::detail {
extern const std::uint8_t kEmbeddedPrimaryFont[];
extern const std::size_t kEmbeddedPrimaryFontSize;
alignas(16) const std::uint8_t kEmbeddedPrimaryFont[] = {
${bytes}
};
const std::size_t kEmbeddedPrimaryFontSize = ${size};
}  // namespace zem::detail
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
