#pragma once
// The codec of "session.json". It stands apart from the rest of session
// persistence so that it builds on base alone: the file is outside input
// (anything may have written it), and its reader is fuzzed on its own.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace zem {

// The content of "session.json".
struct SessionFile {
    std::uint32_t version = 1;
    std::optional<std::string> session_id;
    bool clean_exit = false;
    std::uint32_t pid = 0;
};

// The strict reader: one JSON object (or the array of the four values), a
// key given twice, a wrong type, a number outside 32 bits or trailing text
// is an error. The version is not checked here.
[[nodiscard]] std::expected<SessionFile, std::string> parse_session_file(std::string_view bytes);
// The compact form: {"version":1,"session_id":null,"clean_exit":false,"pid":7}
[[nodiscard]] std::expected<std::string, std::string> encode_session_file(const SessionFile& file);

}  // namespace zem
