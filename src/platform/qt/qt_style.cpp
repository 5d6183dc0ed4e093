#include "platform/qt/qt_style.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include <QStringList>

namespace kestovane::qt {

namespace {

struct SystemColor {
  uint8_t index;
  uint32_t rgb;  // 0xRRGGBB
};

// The classic system colour indices; the windows use only a few of them, the
// rest get quiet greys so that nothing shows up in an odd colour.
constexpr std::array kSystemColors{
    SystemColor{.index = 0, .rgb = 0xc8c8c8},   // scroll bar
    SystemColor{.index = 1, .rgb = 0x3a6ea5},   // desktop
    SystemColor{.index = 2, .rgb = 0x99b4d1},   // active caption
    SystemColor{.index = 3, .rgb = 0xbfcddb},   // inactive caption
    SystemColor{.index = 4, .rgb = 0xf0f0f0},   // menu
    SystemColor{.index = 5, .rgb = 0xffffff},   // window
    SystemColor{.index = 6, .rgb = 0x646464},   // window frame
    SystemColor{.index = 7, .rgb = 0x000000},   // menu text
    SystemColor{.index = 8, .rgb = 0x000000},   // window text
    SystemColor{.index = 9, .rgb = 0x000000},   // caption text
    SystemColor{.index = 10, .rgb = 0xb4b4b4},  // active border
    SystemColor{.index = 11, .rgb = 0xf4f7fc},  // inactive border
    SystemColor{.index = 12, .rgb = 0xababab},  // application workspace
    SystemColor{.index = 13, .rgb = 0x0078d7},  // highlight
    SystemColor{.index = 14, .rgb = 0xffffff},  // highlighted text
    SystemColor{.index = 15, .rgb = 0xf0f0f0},  // button face
    SystemColor{.index = 16, .rgb = 0xa0a0a0},  // button shadow
    SystemColor{.index = 17, .rgb = 0x6d6d6d},  // grey text
    SystemColor{.index = 18, .rgb = 0x000000},  // button text
    SystemColor{.index = 19, .rgb = 0x000000},  // inactive caption text
    SystemColor{.index = 20, .rgb = 0xffffff},  // button highlight
    SystemColor{.index = 21, .rgb = 0x696969},  // 3-D dark shadow
    SystemColor{.index = 22, .rgb = 0xe3e3e3},  // 3-D light
    SystemColor{.index = 23, .rgb = 0x000000},  // tooltip text
    SystemColor{.index = 24, .rgb = 0xffffe1},  // tooltip background
};
constexpr uint32_t kUnknownSystemColor = 0xc0c0c0;

// Families in order of preference. The designed sans-serif faces are narrow,
// so after the metric-compatible Liberation faces (when installed) comes the
// condensed DejaVu cut: the designed texts then fit their designed boxes.
constexpr std::array<std::string_view, 3> kSansFamilies{"Liberation Sans", "DejaVu Sans Condensed", "DejaVu Sans"};
constexpr std::array<std::string_view, 3> kSerifFamilies{"Liberation Serif", "DejaVu Serif Condensed", "DejaVu Serif"};
constexpr std::array<std::string_view, 3> kMonoFamilies{"Liberation Mono", "DejaVu Sans Mono", "Monospace"};

struct FontMapping {
  std::string_view designed;
  QFont::StyleHint hint;
};

constexpr std::array kFontMappings{
    FontMapping{.designed = "MS Sans Serif", .hint = QFont::SansSerif},
    FontMapping{.designed = "Tahoma", .hint = QFont::SansSerif},
    FontMapping{.designed = "Arial", .hint = QFont::SansSerif},
    FontMapping{.designed = "Times", .hint = QFont::Serif},
    FontMapping{.designed = "Times New Roman", .hint = QFont::Serif},
    FontMapping{.designed = "Courier", .hint = QFont::Monospace},
    FontMapping{.designed = "Courier New", .hint = QFont::Monospace},
};

const FontMapping* FindFont(const std::string& name) {
  for (const auto& m : kFontMappings)
    if (QString::fromUtf8(m.designed.data(), static_cast<qsizetype>(m.designed.size()))
            .compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
      return &m;
  return nullptr;
}

QFont::StyleHint HintFor(const std::string& name) {
  const FontMapping* m = FindFont(name);
  return m ? m->hint : QFont::SansSerif;
}

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80) extra = 0;
    else if (c >= 0xc2 && c <= 0xdf) extra = 1;
    else if (c >= 0xe0 && c <= 0xef) extra = 2;
    else if (c >= 0xf0 && c <= 0xf4) extra = 3;
    else return false;
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

QColor ToQColor(TColor color) {
  if (IsSystemColor(color)) {
    const auto index = static_cast<uint8_t>(color & 0xff);
    uint32_t rgb = kUnknownSystemColor;
    for (const auto& s : kSystemColors)
      if (s.index == index) rgb = s.rgb;
    return QColor::fromRgb(QRgb(rgb));
  }
  return QColor(static_cast<int>(color & 0xff), static_cast<int>((color >> 8) & 0xff),
                static_cast<int>((color >> 16) & 0xff));
}

QStringList FontFamilies(const std::string& name) {
  const QFont::StyleHint hint = HintFor(name);
  const auto& list = hint == QFont::Serif ? kSerifFamilies : hint == QFont::Monospace ? kMonoFamilies : kSansFamilies;
  QStringList out;
  for (std::string_view f : list) out.push_back(QString::fromUtf8(f.data(), static_cast<qsizetype>(f.size())));
  return out;
}

QFont ToQFont(const TFont& font) {
  QFont f;
  f.setFamilies(FontFamilies(font.name));
  const QFont::StyleHint hint = HintFor(font.name);
  f.setStyleHint(hint);
  if (hint == QFont::Monospace) f.setFixedPitch(true);
  // A height of 0 means the platform's default; keep the designed default.
  int pixels = 11;
  if (font.height < 0)
    pixels = -font.height;
  else if (font.height > 0)
    pixels = static_cast<int>(std::lround(font.height * 0.75));
  f.setPixelSize(std::max(1, pixels));
  f.setBold(font.style & fsBold);
  f.setItalic(font.style & fsItalic);
  f.setUnderline(font.style & fsUnderline);
  f.setStrikeOut(font.style & fsStrikeOut);
  return f;
}

QString ToQString(const std::string& text) {
  if (IsValidUtf8(text)) return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace kestovane::qt
