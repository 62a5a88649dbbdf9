// Process-wide configuration: the command-line options, named values shared
// between subsystems, and the cached INI documents (system.ini, tag.ini).
#pragma once

#include <any>
#include <map>
#include <string>
#include <vector>

using ArgumentMap = std::map<std::string, std::string>;

// Fills the option map from a command line (without the program name).
// Options start with '-' or '/' (only '-' when allowSlash is false), take an
// optional value, and positional arguments are named "0", "1", ...
// Options named in flags never take the next word as their value.
void ParseCommandLine(const char* text, ArgumentMap& out, bool allowSlash = true,
                      const std::vector<std::string>& flags = {});

// Joins argv (without the program name) into one command line, quoting the
// arguments that hold blanks.
std::string JoinCommandLine(int argc, const char* const* argv);

// Registry of named values of any type, one per process.
class CDynamicVariables {
 public:
  static CDynamicVariables* Instance();
  static void Destroy();

  template <typename T>
  void Set(const std::string& name, const T& value) {
    values_[name] = value;
  }
  // Copies the value into out and returns false; true (out untouched) when
  // the name is absent. Asking for another type than the stored one is a
  // programming error and also answers true.
  template <typename T>
  bool Get(const std::string& name, T& out) const {
    auto it = values_.find(name);
    if (it == values_.end()) return true;
    const T* value = std::any_cast<T>(&it->second);
    if (!value) return true;
    out = *value;
    return false;
  }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }

 private:
  std::map<std::string, std::any> values_;
};

// One parsed INI document.
class CIni {
 public:
  using Section = std::map<std::string, std::string>;

  void Parse(const char* text);
  const std::string& GetFileName() const { return fileName_; }
  void SetFileName(const std::string& name) { fileName_ = name; }

  std::string GetString(const std::string& section, const std::string& key) const;
  std::string GetString(const std::string& section, const std::string& key, const std::string& def) const;
  int GetInt(const std::string& section, const std::string& key) const;
  bool GetBool(const std::string& section, const std::string& key, bool def) const;

  const std::map<std::string, Section>& GetSections() const { return sections_; }

 private:
  std::string fileName_;
  std::map<std::string, Section> sections_;
};

// Returns the cached document for the file, loading it through the file layer
// on first use; nullptr when the file cannot be opened (nothing is cached).
CIni* LoadIni(const std::string& fileName);
// Frees every cached document.
void ReleaseIniCache();

// The scene size a game's system.ini asks for ([WINDOW] WIDTH and HEIGHT).
// A side missing or out of range (1 to kMaxWindowSide) takes its default,
// 800 wide or 600 high; the other side stays. Without a file, 800x600.
constexpr int kMaxWindowSide = 16384;
struct CWindowSize {
  int width = 800;
  int height = 600;
  int askedWidth = 0;  // as the file has them
  int askedHeight = 0;
  bool fellBack = false;  // a side took its default
};
CWindowSize WindowSizeFromIni(const CIni* ini);

// The main archive, named after the executable ("root.pfs" until start-up
// sets it).
const std::string& GetRootArchivePath();
void SetRootArchivePath(const std::string& path);
const std::string& GetArchiveExtension();
