#include "files/Config.h"
#include "core/Cp932.h"
#include "core/Numbers.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "files/PackFile.h"

// ---- Command line -----------------------------------------------------------

void ParseCommandLine(const char* text, ArgumentMap& out, bool allowSlash, const std::vector<std::string>& flags) {
  auto opens = [&](char c) { return c == '-' || (allowSlash && c == '/'); };
  auto skipSpaces = [&](const char*& p) {
    while (*p == ' ') ++p;
  };
  int positional = 0;
  const char* p = text ? text : "";
  while (*p) {
    std::string name, value;
    skipSpaces(p);
    if (opens(*p)) {
      ++p;
      while (*p && *p != ' ') name += *p++;
      bool isFlag = std::find(flags.begin(), flags.end(), name) != flags.end();
      if (*p == ' ') {
        ++p;
        skipSpaces(p);
        if (opens(*p) || isFlag) {
          out[name] = std::string();
          continue;
        }
      } else if (isFlag) {
        out[name] = std::string();
        continue;
      }
    } else {
      name = std::to_string(positional++);
    }
    char delimiter = ' ';
    if (*p == '"' || *p == '\'') delimiter = *p++;
    while (*p && *p != delimiter) value += *p++;
    if (*p == delimiter) {
      ++p;
      skipSpaces(p);
    }
    out[name] = value;
  }
}

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i) line += ' ';
    std::string arg = argv[i];
    // A word that starts with a quote would be read up to its next one.
    bool blank = arg.empty() || arg.find(' ') != std::string::npos || arg[0] == '"' || arg[0] == '\'';
    if (blank) {
      char quote = arg.find('"') == std::string::npos ? '"' : '\'';
      line += quote + arg + quote;
    } else {
      line += arg;
    }
  }
  return line;
}

// ---- Named values -----------------------------------------------------------

namespace {
CDynamicVariables* g_dynamicVariables = nullptr;
}

CDynamicVariables* CDynamicVariables::Instance() {
  if (!g_dynamicVariables) g_dynamicVariables = new CDynamicVariables();
  return g_dynamicVariables;
}

void CDynamicVariables::Destroy() {
  delete g_dynamicVariables;
  g_dynamicVariables = nullptr;
}

// ---- INI documents ----------------------------------------------------------

namespace {

using cp932::IsIniLeadByte;

bool IsBlank(char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; }

std::string Trim(const std::string& s) {
  size_t begin = 0;
  while (begin < s.size() && IsBlank(s[begin])) ++begin;
  if (begin == s.size()) return s;  // only blanks: unchanged
  // The end of the last character that is not a blank. A blank byte right
  // after a lead byte is that character's second half, not a blank.
  size_t end = begin;
  for (size_t i = begin; i < s.size();) {
    const size_t width = IsIniLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (width == 2 || !IsBlank(s[i])) end = i + width;
    i += width;
  }
  return s.substr(begin, end - begin);
}

}  // namespace

void CIni::Parse(const char* text) {
  sections_.clear();
  std::string sectionName, key, value;
  Section working;
  int state = 0;
  auto commit = [&]() {
    working[Trim(key)] = Trim(value);
    key.clear();
    value.clear();
  };
  auto storeSection = [&]() { sections_[sectionName] = working; };
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  // Appends a lead byte with its trail byte; the terminator is never taken.
  auto appendPair = [&](std::string& to) {
    to += static_cast<char>(*p++);
    if (*p) to += static_cast<char>(*p++);
  };
  while (*p) {
    unsigned char c = *p;
    switch (state) {
      case 0:
        if (IsIniLeadByte(c)) {
          appendPair(key);
          state = 2;
        } else if (c == '[') {
          storeSection();
          sectionName.clear();
          working.clear();
          state = 1;
          ++p;
        } else if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
          ++p;
        } else if (c == ';') {
          state = 4;
          ++p;
        } else {
          key += static_cast<char>(c);
          state = 2;
          ++p;
        }
        break;
      case 1:
        if (IsIniLeadByte(c)) {
          appendPair(sectionName);
        } else if (c == ']') {
          state = 0;
          ++p;
        } else if (c == '\r') {
          ++p;
        } else if (c == '\\') {
          ++p;
          if (*p) sectionName += static_cast<char>(*p++);
        } else {
          sectionName += static_cast<char>(c);
          ++p;
        }
        break;
      case 2:
        if (IsIniLeadByte(c)) {
          appendPair(key);
        } else if (c == '=') {
          state = 3;
          ++p;
        } else if (c == '\r') {
          ++p;
        } else if (c == '\\') {
          ++p;
          if (*p) key += static_cast<char>(*p++);
        } else {
          key += static_cast<char>(c);
          ++p;
        }
        break;
      case 3:
        if (IsIniLeadByte(c)) {
          appendPair(value);
        } else if (c == '\n') {
          commit();
          state = 0;
          ++p;
        } else if (c == '\r') {
          ++p;
        } else {
          value += static_cast<char>(c);
          ++p;
        }
        break;
      default:  // comment
        if (c == '\n') state = 0;
        ++p;
        break;
    }
  }
  if (!key.empty()) commit();
  storeSection();
}

std::string CIni::GetString(const std::string& section, const std::string& key) const {
  return GetString(section, key, std::string());
}

std::string CIni::GetString(const std::string& section, const std::string& key, const std::string& def) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return def;
  auto k = s->second.find(key);
  if (k == s->second.end()) return def;
  return k->second;
}

int CIni::GetInt(const std::string& section, const std::string& key) const {
  std::string value = GetString(section, key);
  return numbers::Atoi(value);
}

bool CIni::GetBool(const std::string& section, const std::string& key, bool def) const {
  std::string value = GetString(section, key);
  if (value.empty()) return def;
  return numbers::Atoi(value) != 0;
}

namespace {
std::map<std::string, std::unique_ptr<CIni>>* g_iniCache = nullptr;
}

CWindowSize WindowSizeFromIni(const CIni* ini) {
  CWindowSize size;
  if (!ini) return size;
  size.askedWidth = ini->GetInt("WINDOW", "WIDTH");
  size.askedHeight = ini->GetInt("WINDOW", "HEIGHT");
  const bool badWidth = size.askedWidth <= 0 || size.askedWidth > kMaxWindowSide;
  const bool badHeight = size.askedHeight <= 0 || size.askedHeight > kMaxWindowSide;
  if (!badWidth) size.width = size.askedWidth;
  if (!badHeight) size.height = size.askedHeight;
  size.fellBack = badWidth || badHeight;
  return size;
}

CIni* LoadIni(const std::string& fileName) {
  if (!g_iniCache) g_iniCache = new std::map<std::string, std::unique_ptr<CIni>>();
  auto it = g_iniCache->find(fileName);
  if (it != g_iniCache->end()) return it->second.get();
  CPackFile file;
  if (file.Open(fileName.c_str())) return nullptr;
  int size = file.GetSize();
  if (size < 0) return nullptr;
  std::string buffer(static_cast<size_t>(size) + 1, '\0');
  int read = file.Read(buffer.data(), static_cast<unsigned>(size));
  buffer.resize(static_cast<size_t>(read > 0 ? read : 0) + 1, '\0');
  buffer.back() = '\0';
  auto ini = std::make_unique<CIni>();
  ini->Parse(buffer.c_str());
  ini->SetFileName(fileName);
  CIni* result = ini.get();
  (*g_iniCache)[fileName] = std::move(ini);
  return result;
}

void ReleaseIniCache() {
  delete g_iniCache;
  g_iniCache = nullptr;
}

// ---- Root archive -----------------------------------------------------------

namespace {
std::string& RootArchive() {
  static std::string path = "root.pfs";
  return path;
}
}  // namespace

const std::string& GetRootArchivePath() { return RootArchive(); }
void SetRootArchivePath(const std::string& path) { RootArchive() = path; }
const std::string& GetArchiveExtension() {
  static const std::string ext = ".pfs";
  return ext;
}
