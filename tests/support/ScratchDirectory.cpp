#include "ScratchDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

void ScratchDirectory::SetUp() {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  m_previous = cwd;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pairvault-test-XXXXXX";
  ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
  m_root = pattern;
  ASSERT_EQ(chdir(m_root.c_str()), 0);
  ASSERT_EQ(mkdir("scriptfiles", 0777), 0);
}

void ScratchDirectory::TearDown() {
  ASSERT_EQ(chdir(m_previous.c_str()), 0);
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

std::string ScratchDirectory::Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void ScratchDirectory::Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool ScratchDirectory::Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ScratchDirectory::List(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
