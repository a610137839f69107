// Pool files and file names as the published rules describe them, for
// checking the plugin's reader, writer and path binding against.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace reference {

using Record = std::pair<std::string, std::string>;

// A line's text: without a line feed and the carriage returns before its
// end, up to its first zero byte.
inline std::string LineText(std::string line) {
  while (!line.empty() && line.back() == '\r') line.pop_back();
  return line.substr(0, std::strlen(line.c_str()));
}

// Records in file order: blank lines where a key is expected are skipped; a
// key without a value line at the end is dropped.
inline std::vector<Record> ReadRecords(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find('\n', start);
    const bool fed = end != std::string::npos;
    if (!fed) end = bytes.size();
    lines.push_back(LineText(bytes.substr(start, end - start)));
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

// An entry with a value is written when no line feed is in it and its key
// reads back as a key; entries with an empty value are not written.
inline bool Writable(const Record& r) {
  return r.first.find('\n') == std::string::npos && r.second.find('\n') == std::string::npos &&
         !LineText(r.first).empty();
}

inline std::string WriteRecords(const std::vector<Record>& ordered) {
  std::string out;
  for (const Record& r : ordered) {
    if (!r.second.empty() && Writable(r)) out += r.first + "\n" + r.second + "\n";
  }
  return out;
}

// The path a file name binds: under scriptfiles/ unless it already starts
// with "scriptfiles" and is longer; cut to 250 bytes; nothing at all when a
// path component is "..", or when the last one is a journal's name.
inline std::string BoundPath(const std::string& name) {
  const bool under = name.size() > 11 && name.compare(0, 11, "scriptfiles") == 0;
  std::string path = (under ? name : "scriptfiles/" + name).substr(0, 250);
  const std::string journal = ".journal";
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    const std::string component = path.substr(start, slash - start);
    if (component == "..") return std::string();
    if (slash == std::string::npos) {
      const bool own =
          component.size() >= journal.size() &&
          component.compare(component.size() - journal.size(), journal.size(), journal) == 0;
      return own ? std::string() : path;
    }
    start = slash + 1;
  }
}

}  // namespace reference
