#pragma once
// A fresh directory per test, removed when the test ends.

#include <string>

namespace vorada {
namespace testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return root; }
    /// root + "/" + name
    std::string file(const std::string& name) const { return root + "/" + name; }

  private:
    std::string root;
};

/// Writes bytes to a file, replacing it.
void write_bytes(const std::string& path, const std::string& bytes);
/// Reads a whole file as bytes.
std::string read_bytes(const std::string& path);

}  // namespace testing
}  // namespace vorada
