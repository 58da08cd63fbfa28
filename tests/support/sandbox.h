#pragma once

#include <filesystem>
#include <string>

namespace mirel::test {

// A fresh temporary folder for one test, removed with everything in it when
// the object goes away. Read-only files and folders inside are removed too.
class Sandbox {
public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox &) = delete;
  Sandbox &operator=(const Sandbox &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // Path of a name inside the sandbox, as text.
  std::string file(const std::string &name) const;
  // Writes bytes to a file inside the sandbox (folders made as needed) and
  // returns its path.
  std::string write(const std::string &name, const std::string &bytes) const;

private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path &path);

} // namespace mirel::test
