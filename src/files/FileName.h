// A path value with '.' and '..' resolved; the separator is the backslash.
#pragma once

#include <string>

class CFileName {
 public:
  explicit CFileName(const std::string& path);
  virtual ~CFileName() = default;

  const std::string& GetPath() const { return path_; }
  std::string GetDirectory() const;
  std::string GetDirectoryWithSeparator() const;
  std::string GetBaseName() const;
  std::string GetPathWithoutExtension() const;
  std::string GetExtension() const;

 private:
  // Position of the last separator outside double-byte characters, or npos.
  size_t LastSeparator() const;

  std::string path_;
  std::string separator_ = "\\";
};
