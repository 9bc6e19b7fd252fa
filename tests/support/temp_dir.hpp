#pragma once
// A temporary directory removed with its contents at the end of the scope.

#include <string>

namespace support {

class TempDir {
public:
    TempDir(); // throws when no directory can be made
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace support
