#include "support/temp_dir.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace support {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (stdfs::temp_directory_path() / "tavix-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = tmpl;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    stdfs::remove_all(path_, ec);
}

} // namespace support
