// The board models docs/emulator.md shows: each is the ```json block that follows a line
// "<!-- model: NAME -->" there, so the tests load exactly what the page documents.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `docs` is the path of docs/emulator.md; empty when the page has no model of that name.
inline std::string DocumentedModel(const std::string& docs, const std::string& name) {
  const std::string page = ReadTextFile(docs);
  const std::size_t marker = page.find("<!-- model: " + name + " -->");
  if (marker == std::string::npos) return "";
  const std::string fence = "```json\n";
  const std::size_t start = page.find(fence, marker);
  if (start == std::string::npos) return "";
  const std::size_t end = page.find("```", start + fence.size());
  if (end == std::string::npos) return "";
  return page.substr(start + fence.size(), end - start - fence.size());
}

// The names of the documented models.
inline const char* const kDocumentedModels[] = {"sensor-and-eeprom", "power-gated", "bench"};

}  // namespace testing_support
