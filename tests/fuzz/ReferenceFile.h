// Pool files and file names as the published rules describe them, for
// checking the plugin's reader, writer and path binding against.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace reference {

using Record = std::pair<std::string, std::string>;

// Records in file order: whole lines, without a line feed and one carriage
// return before it, each up to its first zero byte; blank lines where a key
// is expected are skipped; a key without a value line at the end is dropped.
inline std::vector<Record> ReadRecords(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    const bool fed = end != std::string::npos;
    if (!fed) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (fed && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.substr(0, std::strlen(line.c_str())));
    start = fed ? end + 1 : end;
  }
  std::vector<Record> records;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    if (i + 1 == lines.size()) break;
    records.emplace_back(lines[i], lines[i + 1]);
    ++i;
  }
  return records;
}

// A text survives the round trip when, cut to 128 bytes, it is not empty,
// holds no line feed and does not end in a carriage return.
inline bool Writable(const std::string& cut) {
  return !cut.empty() && cut.find('\n') == std::string::npos && cut.back() != '\r';
}

inline std::string WriteRecords(const std::vector<Record>& ordered) {
  std::string out;
  for (const Record& r : ordered) {
    const std::string key = r.first.substr(0, 128), value = r.second.substr(0, 128);
    if (Writable(key) && Writable(value)) out += key + "\n" + value + "\n";
  }
  return out;
}

// The path a file name binds: under scriptfiles/ unless it already starts
// with "scriptfiles" and is longer; cut to 250 bytes; nothing at all when a
// path component is "..".
inline std::string BoundPath(const std::string& name) {
  const bool under = name.size() > 11 && name.compare(0, 11, "scriptfiles") == 0;
  std::string path = (under ? name : "scriptfiles/" + name).substr(0, 250);
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    if (path.substr(start, slash - start) == "..") return std::string();
    if (slash == std::string::npos) return path;
    start = slash + 1;
  }
}

}  // namespace reference
