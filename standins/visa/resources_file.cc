#include "resources_file.h"

#include <cstring>

#include "devices_file.h"

namespace visa_standin {

Resources ParseResources(std::string_view text, std::string_view source) {
  constexpr std::string_view kBlanks = " \t\r\v\f";
  Resources result;
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;

    const size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos || line[first] == '#') continue;
    line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
    // A NUL would cut the name short in every description handed out.
    if (line.find('\0') != std::string_view::npos) {
      result.errors.push_back(std::string(source) + ":" + std::to_string(lineNumber) +
                              ": contains a NUL byte");
      continue;
    }
    result.names.emplace_back(line);
  }
  return result;
}

Resources ReadResourcesFile(const std::string &path) {
  std::string text;
  const int error = qxmodinst::ReadWholeFile(path, &text);
  if (error != 0) {
    Resources failed;
    failed.errors.push_back("cannot read resources file '" + path + "': " + std::strerror(error));
    return failed;
  }
  return ParseResources(text, path);
}

}  // namespace visa_standin
