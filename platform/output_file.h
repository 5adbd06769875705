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

// Puts the file `from` in the place of `to` in one step, replacing `to` when it exists: `to` then
// names either its old file or the new one, never neither. The names are taken as the C
// runtime's fopen takes them (on Windows, in the ANSI code page). On failure `to` is unchanged,
// `from` is left where it was, and `why` holds what the system said.
bool MoveOver(const std::string& from, const std::string& to, std::string* why);

// True when `path` names an existing folder.
bool IsFolder(const std::string& path);

}  // namespace platform
