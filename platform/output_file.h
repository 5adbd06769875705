// A file that is written once from its beginning: created new (never an existing file opened,
// truncated or appended to), written in chunks, flushed to the system at chosen points.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Both return false when the system refused (disk full, device gone); the file is then left
  // as far as it got.
  virtual bool Write(const void* data, std::size_t bytes) = 0;
  virtual bool Flush() = 0;

 protected:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
};

// Creates `path` (UTF-8), failing when anything of that name exists. On failure returns
// nullptr and stores in `why` what the system said.
std::unique_ptr<OutputFile> CreateNewFile(const std::string& path, std::string* why);

// True when `path` names an existing folder.
bool IsFolder(const std::string& path);

}  // namespace platform
