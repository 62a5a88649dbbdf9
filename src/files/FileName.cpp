#include "files/FileName.h"
#include "core/Cp932.h"

#include <vector>

namespace {
using cp932::IsLeadByte;
}  // namespace

CFileName::CFileName(const std::string& path) {
  std::vector<std::string> kept;
  std::string component;
  auto take = [&](const std::string& c) {
    if (c == ".") return;
    if (c == "..") {
      if (!kept.empty()) kept.pop_back();
      return;
    }
    kept.push_back(c);
  };
  bool endsWithSeparator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < path.size()) {
      component += path[i];
      component += path[++i];
      endsWithSeparator = false;
      continue;
    }
    if (path[i] == separator_[0]) {
      take(component);
      component.clear();
      endsWithSeparator = true;
      continue;
    }
    component += path[i];
    endsWithSeparator = false;
  }
  if (!component.empty()) take(component);
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i) path_ += separator_;
    path_ += kept[i];
  }
  if (endsWithSeparator) path_ += separator_;
}

size_t CFileName::LastSeparator() const {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path_.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path_[i]);
    if (IsLeadByte(c) && i + 1 < path_.size()) {
      ++i;
      continue;
    }
    if (path_[i] == separator_[0]) last = i;
  }
  return last;
}

std::string CFileName::GetDirectory() const {
  size_t sep = LastSeparator();
  return sep == std::string::npos ? std::string() : path_.substr(0, sep);
}

std::string CFileName::GetDirectoryWithSeparator() const {
  std::string dir = GetDirectory();
  return dir.empty() ? dir : dir + separator_;
}

std::string CFileName::GetBaseName() const {
  size_t sep = LastSeparator();
  std::string name = sep == std::string::npos ? path_ : path_.substr(sep + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string CFileName::GetPathWithoutExtension() const { return GetDirectoryWithSeparator() + GetBaseName(); }

std::string CFileName::GetExtension() const {
  size_t sep = LastSeparator();
  std::string name = sep == std::string::npos ? path_ : path_.substr(sep + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}
