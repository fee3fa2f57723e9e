// The harness's temporary folders and whole-file reads and writes.
#pragma once

#include <string>

namespace winebox {

std::string MakeTempDir(const std::string& stem);
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
void RemoveTree(const std::string& path);

}  // namespace winebox
