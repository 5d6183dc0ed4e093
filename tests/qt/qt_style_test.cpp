#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include "platform/qt/qt_style.h"

namespace kestovane::qt {
namespace {

struct ColorCase {
  const char* what;
  TColor color;
  QRgb expected;
};

TEST(QtStyle, ColoursMapFixedAndSystemValues) {
  const ColorCase cases[] = {
      {.what = "black", .color = clBlack, .expected = 0x000000},
      {.what = "red is the low byte", .color = clRed, .expected = 0xff0000},
      {.what = "green", .color = clGreen, .expected = 0x008000},
      {.what = "blue is the third byte", .color = 0xFF0000 & 0x00FF0000, .expected = 0x0000ff},
      {.what = "mixed bytes", .color = 0x00123456, .expected = 0x563412},
      {.what = "silver", .color = clSilver, .expected = 0xc0c0c0},
      {.what = "button face", .color = clBtnFace, .expected = 0xf0f0f0},
      {.what = "window", .color = clWindow, .expected = 0xffffff},
      {.what = "window text", .color = clWindowText, .expected = 0x000000},
      {.what = "button text", .color = 0xFF000012, .expected = 0x000000},
      {.what = "unknown system colour", .color = 0xFF0000EE, .expected = 0xc0c0c0},
  };
  for (const auto& c : cases) EXPECT_EQ(ToQColor(c.color).rgb() & 0xffffff, c.expected) << c.what;
}

struct FontCase {
  const char* what;
  TFont font;
  QFont::StyleHint hint;
  int pixels;
  bool bold = false, italic = false, underline = false, strikeOut = false;
};

TEST(QtStyle, FontsMapToFamiliesOfTheSameKind) {
  const FontCase cases[] = {
      {.what = "default", .font = {}, .hint = QFont::SansSerif, .pixels = 11},
      {.what = "Tahoma cell height", .font = {.name = "Tahoma", .height = 32}, .hint = QFont::SansSerif,
       .pixels = 24},
      {.what = "Times bold", .font = {.name = "Times", .height = -40, .style = fsBold}, .hint = QFont::Serif,
       .pixels = 40, .bold = true},
      {.what = "Courier", .font = {.name = "Courier", .height = -11}, .hint = QFont::Monospace, .pixels = 11},
      {.what = "every style",
       .font = {.height = -16, .style = fsBold | fsItalic | fsUnderline | fsStrikeOut},
       .hint = QFont::SansSerif, .pixels = 16, .bold = true, .italic = true, .underline = true,
       .strikeOut = true},
      {.what = "unknown name", .font = {.name = "Wingdings", .height = -12}, .hint = QFont::SansSerif,
       .pixels = 12},
      {.what = "platform default height", .font = {.height = 0}, .hint = QFont::SansSerif, .pixels = 11},
  };
  for (const auto& c : cases) {
    const QFont f = ToQFont(c.font);
    EXPECT_EQ(f.styleHint(), c.hint) << c.what;
    EXPECT_EQ(f.pixelSize(), c.pixels) << c.what;
    EXPECT_EQ(f.bold(), c.bold) << c.what;
    EXPECT_EQ(f.italic(), c.italic) << c.what;
    EXPECT_EQ(f.underline(), c.underline) << c.what;
    EXPECT_EQ(f.strikeOut(), c.strikeOut) << c.what;
  }
}

TEST(QtStyle, CourierResolvesToAFixedPitchFont) {
  EXPECT_TRUE(QFontInfo(ToQFont({.name = "Courier", .height = -11})).fixedPitch());
  EXPECT_FALSE(QFontInfo(ToQFont({.name = "MS Sans Serif", .height = -11})).fixedPitch());
}

TEST(QtStyle, DesignedTextsFitTheirDesignedBoxes) {
  // The longest progress text in the 130-pixel panel of the default font,
  // and the widest result line in its 484-pixel label.
  EXPECT_LE(QFontMetrics(ToQFont({})).horizontalAdvance("Program 00128 (00080)"), 126);
  EXPECT_LE(QFontMetrics(ToQFont({.height = -24, .style = fsBold})).horizontalAdvance(" Incompatible Bootloader !! "),
            484);
}

TEST(QtStyle, TextsKeepEveryByte) {
  EXPECT_EQ(ToQString(" Program Ok "), QStringLiteral(" Program Ok "));
  EXPECT_EQ(ToQString("Gr\xc3\xb6\xc3\x9f" "e"), QStringLiteral(u"Größe"));
  // Not UTF-8: read as single-byte text rather than replaced.
  EXPECT_EQ(ToQString("25\xb0" "C"), QStringLiteral(u"25°C"));
  EXPECT_EQ(ToQString("cut \xc3"), QStringLiteral(u"cut Ã"));
  EXPECT_EQ(ToQString(std::string("a\0b", 3)).size(), 3);
}

}  // namespace
}  // namespace kestovane::qt
