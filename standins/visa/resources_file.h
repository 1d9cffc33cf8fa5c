// The resources file of the VISA stand-in: one resource name per line.
#ifndef VISA_STANDIN_RESOURCES_FILE_H
#define VISA_STANDIN_RESOURCES_FILE_H

#include <string>
#include <string_view>
#include <vector>

namespace visa_standin {

struct Resources {
  std::vector<std::string> names;  // in file order
  // One "source:line: problem" text per line left out, or the read error.
  std::vector<std::string> errors;
};

// Parses the text of a resources file; source names the file in errors.
Resources ParseResources(std::string_view text, std::string_view source);

// Reads and parses the file at path.
Resources ReadResourcesFile(const std::string &path);

}  // namespace visa_standin

#endif
