// The show's bitmap fonts: the small 8 x 8 font (a 256 x 32 image, 32 x 4
// cells) and two large fonts (256 x 256 images, 8 x 8 cells of 32 x 32), each
// with its 256-byte description file.
#pragma once

#include <string>

// Characters of the large fonts in cell order. Cell k of font 1 shows
// kFont1Cells[k]; font 2 likewise. Letters and digits live in font 1 so a
// word is drawn in one style; font 2 carries the punctuation.
extern const char* const kFont1Cells;
extern const char* const kFont2Cells;

// Writes data/font/char.raw, font1.raw, font2.raw and char.dsc, font1.dsc,
// font2.dsc below dataDir (the data folder itself). Prints one line per file.
bool WriteFonts(const std::string& dataDir, std::string* error);
