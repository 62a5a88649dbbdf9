// The font backend on FreeType and fontconfig.
//
// Pixels must not depend on the machine's font settings, so fontconfig runs on
// a private configuration that only lists the system font folders (no user
// files, no substitution rules), and every glyph is loaded and rendered one
// fixed way: outlines only, unhinted, normal anti-aliasing.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <utility>

#include "platform/FontBackend.h"
#include "platform/TextCodec.h"

namespace platform {
namespace {

constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_NO_AUTOHINT;

// Games name the faces that come with Japanese Windows; the IPA fonts have the
// same design split (fixed and proportional, gothic and mincho).
// The MS faces have no internal leading: their em is the whole cell.
// Meiryo's ascent and descent come to 1.5 em (3072 of 2048 units), so its
// em is two thirds of the cell, and its stand-in is drawn at that size.
struct FaceAlias {
  const char* faceUtf8;
  const char* family;
  int emUnits = 1;    // the em of the face ...
  int cellUnits = 1;  // ... in a cell this tall
};
constexpr FaceAlias kAliases[] = {
    {"ＭＳ ゴシック", "IPAGothic"},       {"MS Gothic", "IPAGothic"},
    {"ＭＳ 明朝", "IPAMincho"},           {"MS Mincho", "IPAMincho"},
    {"ＭＳ Ｐゴシック", "IPAPGothic"},    {"MS PGothic", "IPAPGothic"},
    {"MS UI Gothic", "IPAPGothic"},       {"メイリオ", "IPAPGothic", 2048, 3072},
    {"Meiryo", "IPAPGothic", 2048, 3072}, {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"MS PMincho", "IPAPMincho"},
};

constexpr const char* kPrivateConfig =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
    "<dir>/usr/share/fonts</dir>\n<dir>/usr/local/share/fonts</dir>\n"
    "<cachedir>/var/cache/fontconfig</cachedir>\n</fontconfig>\n";

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const FaceAlias* FindAlias(const std::string& faceUtf8) {
  for (const FaceAlias& alias : kAliases)
    if (EqualsIgnoringAsciiCase(faceUtf8, alias.faceUtf8)) return &alias;
  return nullptr;
}

// FreeType and fontconfig state shared by the backend and every font made
// from it, so that fonts may outlive the backend.
struct CFreeTypeShared {
  FT_Library library = nullptr;
  FcConfig* config = nullptr;
  std::map<std::pair<std::string, int>, FT_Face> faces;

  ~CFreeTypeShared() {
    for (auto& entry : faces) FT_Done_Face(entry.second);
    if (library) FT_Done_FreeType(library);
    if (config) FcConfigDestroy(config);
  }

  FT_Face OpenFace(const std::string& path, int index) {
    auto key = std::make_pair(path, index);
    auto it = faces.find(key);
    if (it != faces.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library, path.c_str(), index, &face)) return nullptr;
    if (!FT_IS_SCALABLE(face)) {
      FT_Done_Face(face);
      return nullptr;
    }
    faces.emplace(key, face);
    return face;
  }
};

struct SMatch {
  std::string path;
  int index = 0;
  std::string family;
  bool japanese = false;
  bool familyMatches = false;
  bool bold = false;
  bool italic = false;
  bool fixedPitch = false;
};

// Hiragana and a common kanji: a font without them cannot set Japanese text.
bool CoversJapanese(FcPattern* font) {
  FcCharSet* charset = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch || !charset) return false;
  return FcCharSetHasChar(charset, 0x3042) && FcCharSetHasChar(charset, 0x6F22) && FcCharSetHasChar(charset, 0x3000);
}

FcPattern* MakePattern(FcConfig* config, const char* family, bool bold, bool italic) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  if (family) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcLangSet* langs = FcLangSetCreate();
  FcLangSetAdd(langs, reinterpret_cast<const FcChar8*>("ja"));
  FcPatternAddLangSet(pattern, FC_LANG, langs);
  FcLangSetDestroy(langs);
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  return pattern;
}

// True when the font pattern names no file.
bool Describe(FcPattern* font, const char* family, SMatch& out) {
  FcChar8* file = nullptr;
  if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) return true;
  out = SMatch();
  out.path = reinterpret_cast<const char*>(file);
  int index = 0;
  if (FcPatternGetInteger(font, FC_INDEX, 0, &index) == FcResultMatch) out.index = index;
  out.japanese = CoversJapanese(font);
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    if (i == 0) out.family = reinterpret_cast<const char*>(name);
    if (family && EqualsIgnoringAsciiCase(reinterpret_cast<const char*>(name), family)) out.familyMatches = true;
  }
  int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN, spacing = FC_PROPORTIONAL;
  FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(font, FC_SLANT, 0, &slant);
  FcPatternGetInteger(font, FC_SPACING, 0, &spacing);
  out.bold = weight >= FC_WEIGHT_DEMIBOLD;
  out.italic = slant != FC_SLANT_ROMAN;
  out.fixedPitch = spacing == FC_MONO || spacing == FC_DUAL;
  return false;
}

// The best match for a family; true when there is none.
bool Match(FcConfig* config, const char* family, bool bold, bool italic, SMatch& out) {
  FcPattern* pattern = MakePattern(config, family, bold, italic);
  if (!pattern) return true;
  FcResult result = FcResultNoMatch;
  FcPattern* font = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!font) return true;
  const bool failed = Describe(font, family, out);
  FcPatternDestroy(font);
  return failed;
}

// Any font that can set Japanese, fixed pitch preferred, in fontconfig's
// order of preference; true when there is none.
bool MatchJapanese(FcConfig* config, bool bold, bool italic, SMatch& out) {
  FcPattern* pattern = MakePattern(config, nullptr, bold, italic);
  if (!pattern) return true;
  FcResult result = FcResultNoMatch;
  FcFontSet* fonts = FcFontSort(config, pattern, FcFalse, nullptr, &result);
  FcPatternDestroy(pattern);
  if (!fonts) return true;
  bool found = false;
  for (int pass = 0; pass < 2 && !found; ++pass) {
    for (int i = 0; i < fonts->nfont && !found; ++i) {
      SMatch candidate;
      if (Describe(fonts->fonts[i], nullptr, candidate) || !candidate.japanese) continue;
      if (pass == 0 && !candidate.fixedPitch) continue;
      out = candidate;
      found = true;
    }
  }
  FcFontSetDestroy(fonts);
  return !found;
}

class CFreeTypeFont : public IFont {
 public:
  CFreeTypeFont(std::shared_ptr<CFreeTypeShared> shared, FT_Face face, FT_Size size, std::string path)
      : m_shared(std::move(shared)), m_face(face), m_size(size), m_path(std::move(path)) {}
  ~CFreeTypeFont() override { FT_Done_Size(m_size); }

  void SetStyle(bool emboldenOutline, bool shearOutline) {
    m_embolden = emboldenOutline;
    m_shear = shearOutline;
  }
  void SetMetrics(const FontTextMetrics& metrics) { m_metrics = metrics; }

  FontTextMetrics GetTextMetrics() const override { return m_metrics; }
  std::string GetFilePath() const override { return m_path; }

  bool GetGlyphGray8(uint16_t code, GlyphMetrics& metrics, std::vector<uint8_t>& buffer) override {
    uint32_t codePoint = 0;
    if (ConvertCp932CharToUnicode(code, codePoint)) return true;
    const FT_UInt index = FT_Get_Char_Index(m_face, codePoint);
    if (index == 0) return true;
    if (FT_Activate_Size(m_size) || FT_Load_Glyph(m_face, index, kLoadFlags)) return true;
    FT_GlyphSlot slot = m_face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return true;
    FT_Pos advance = slot->advance.x;
    if (m_embolden) {
      // The strength FreeType's own synthetic bold uses: 1/24 em.
      const FT_Pos strength = FT_MulFix(m_face->units_per_EM, m_size->metrics.y_scale) / 24;
      FT_Outline_Embolden(&slot->outline, strength);
      advance += strength;
    }
    if (m_shear) {
      // About 12 degrees, the slant of an oblique face.
      FT_Matrix shear = {0x10000, 0x0366A, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return true;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.rows != 0) return true;
    if (bitmap.pitch < 0) return true;
    const uint32_t width = bitmap.width, rows = bitmap.rows;
    const size_t pitch = (size_t(width) + 3) & ~size_t(3);
    if (buffer.size() < pitch * rows) buffer.resize(pitch * rows);
    // FreeType's 0..255 coverage as GDI's 0..64 levels.
    static const auto kLevels = [] {
      std::array<uint8_t, 256> levels{};
      for (unsigned v = 0; v < 256; ++v) levels[v] = uint8_t((v * 64 + 127) / 255);
      return levels;
    }();
    for (uint32_t y = 0; y < rows; ++y) {
      const uint8_t* src = bitmap.buffer + size_t(y) * size_t(bitmap.pitch);
      uint8_t* dst = buffer.data() + size_t(y) * pitch;
      for (uint32_t x = 0; x < width; ++x) dst[x] = kLevels[src[x]];
      std::memset(dst + width, 0, pitch - width);
    }
    metrics.blackBoxX = width;
    metrics.blackBoxY = rows;
    metrics.originX = slot->bitmap_left;
    metrics.originY = slot->bitmap_top;
    metrics.cellIncX = int((advance + 32) >> 6);
    return false;
  }

 private:
  std::shared_ptr<CFreeTypeShared> m_shared;
  FT_Face m_face;
  FT_Size m_size;
  std::string m_path;
  FontTextMetrics m_metrics;
  bool m_embolden = false;
  bool m_shear = false;
};

class CFreeTypeFontBackend : public IFontBackend {
 public:
  explicit CFreeTypeFontBackend(std::shared_ptr<CFreeTypeShared> shared) : m_shared(std::move(shared)) {}

  bool DescribeFace(const std::string& faceCp932, FontFaceInfo& out) override {
    SMatch match;
    if (Resolve(faceCp932, false, false, match, out)) return true;
    return false;
  }

  std::unique_ptr<IFont> CreateFont(const FontRequest& request) override {
    if (request.height <= 0) return nullptr;
    SMatch match;
    FontFaceInfo info;
    const FaceAlias* alias = nullptr;
    if (Resolve(request.faceCp932, request.bold, request.italic, match, info, &alias)) return nullptr;
    FT_Face face = m_shared->OpenFace(match.path, match.index);
    if (!face) return nullptr;
    FT_Size size = nullptr;
    if (FT_New_Size(face, &size)) return nullptr;
    auto font = std::make_unique<CFreeTypeFont>(m_shared, face, size, match.path);

    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const int64_t unitsPerEm = face->units_per_EM ? face->units_per_EM : 2048;
    const int64_t winAscent = os2 ? os2->usWinAscent : face->ascender;
    const int64_t winDescent = os2 ? os2->usWinDescent : -face->descender;
    const int64_t height = request.height;
    // The em in 1/64 pixels. A Windows face is drawn at the em it would
    // have there (the MS faces' em is the full cell). A face that is not
    // installed stands for the default fixed-pitch Japanese face Windows
    // would use instead, whose em is the cell too. Any other face fits its
    // own ascent and descent into the cell as Windows does.
    int64_t em64 = height * 64;
    if (alias && !info.fallback)
      em64 = (height * 64 * alias->emUnits + alias->cellUnits / 2) / alias->cellUnits;
    else if (!info.substitute && !info.fallback && winAscent + winDescent > 0)
      em64 = (height * 64 * unitsPerEm + (winAscent + winDescent) / 2) / (winAscent + winDescent);
    em64 = std::max<int64_t>(em64, 1);
    if (FT_Activate_Size(size) || FT_Set_Char_Size(face, 0, FT_F26Dot6(em64), 72, 72)) return nullptr;

    FontTextMetrics metrics;
    const int64_t denominator = unitsPerEm * 64;
    metrics.ascent = int((winAscent * em64 + denominator / 2) / denominator);
    const int64_t average = os2 ? os2->xAvgCharWidth : unitsPerEm / 2;
    metrics.averageCharWidth = int((average * em64 + denominator / 2) / denominator);
    font->SetMetrics(metrics);
    font->SetStyle(request.bold && !match.bold, request.italic && !match.italic);
    return font;
  }

 private:
  bool Resolve(const std::string& faceCp932, bool bold, bool italic, SMatch& match, FontFaceInfo& info,
               const FaceAlias** aliasOut = nullptr) {
    const std::string faceUtf8 = ConvertCp932ToUtf8(faceCp932);
    const FaceAlias* alias = FindAlias(faceUtf8);
    if (aliasOut) *aliasOut = alias;
    info = FontFaceInfo();
    info.substitute = alias != nullptr;
    const char* family = alias ? alias->family : faceUtf8.c_str();
    const bool failed = faceUtf8.empty() || Match(m_shared->config, family, bold, italic, match);
    if (failed || !match.japanese || !match.familyMatches) {
      info.fallback = true;
      // Never a font that cannot set Japanese.
      if (MatchJapanese(m_shared->config, bold, italic, match)) return true;
    }
    info.filePath = match.path;
    info.familyUtf8 = match.family;
    return false;
  }

  std::shared_ptr<CFreeTypeShared> m_shared;
};

}  // namespace

std::unique_ptr<IFontBackend> CreateFreeTypeFontBackend() {
  auto shared = std::make_shared<CFreeTypeShared>();
  if (FT_Init_FreeType(&shared->library)) {
    shared->library = nullptr;
    return nullptr;
  }
  shared->config = FcConfigCreate();
  if (!shared->config) return nullptr;
  if (!FcConfigParseAndLoadFromMemory(shared->config, reinterpret_cast<const FcChar8*>(kPrivateConfig), FcFalse) ||
      !FcConfigBuildFonts(shared->config))
    return nullptr;
  return std::make_unique<CFreeTypeFontBackend>(shared);
}

}  // namespace platform
