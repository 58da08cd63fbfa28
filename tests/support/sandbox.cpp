#include "sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace mirel::test {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
  fs::path base = fs::temp_directory_path();
  std::string pattern = (base / "mirel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a sandbox folder under " + base.string());
  path_ = pattern;
}

Sandbox::~Sandbox() {
  std::error_code ec;
  // Give every entry its write bit back first so read-only files go too.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink())
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string Sandbox::file(const std::string &name) const { return (path_ / name).string(); }

std::string Sandbox::write(const std::string &name, const std::string &bytes) const {
  fs::path target = path_ / name;
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + target.string());
  return target.string();
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace mirel::test
