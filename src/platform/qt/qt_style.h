// How the designed look (colours, fonts, texts) translates to Qt.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <string>

#include "platform/forms.h"

namespace kestovane::qt {

// A fixed colour 0x00BBGGRR, or a system colour 0xFF0000nn from our own
// table of the classic system colours.
QColor ToQColor(TColor color);

// The designed fonts are not on Linux: each maps to a family that is, of the
// same kind (sans-serif, serif, fixed pitch). Negative heights are character
// heights in pixels; positive ones are cell heights, of which the characters
// take about three quarters.
QFont ToQFont(const TFont& font);

// The families, in order of preference, a designed font name maps to.
QStringList FontFamilies(const std::string& name);

// The program's texts are 8-bit: UTF-8 when they are valid UTF-8, otherwise
// single-byte text of the Western code page, so no byte is lost or replaced.
QString ToQString(const std::string& text);

}  // namespace kestovane::qt
