// Runs a test inside a fresh temporary working directory that holds an empty
// "scriptfiles/" directory, as a server's working directory does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::string Read(const std::string& path);
  static void Write(const std::string& path, const std::string& bytes);
  static bool Exists(const std::string& path);
  // Names in the directory, for spotting left-over temporary files.
  static std::vector<std::string> List(const std::string& dir);

  std::string m_root;

 private:
  std::string m_previous;
};
