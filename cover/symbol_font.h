// The symbol font of the symbol item: templates store one-byte codes of "WingDings"; they are drawn
// with a Unicode font that has the same pictures, each code mapped to its Unicode symbol.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace zn::cover {

constexpr const char* kSymbolFontFamily = "Symbola";

// The Unicode code point drawn for symbol code `code` (32..255); a space for codes without one.
char32_t SymbolCodePoint(uint8_t code);
QString SymbolText(const std::string& codes);

} // namespace zn::cover
