// The show's pictures: every texture the effects, the renderer and the font
// ask for, the fonts, and the texture list data/textures.ini with the drawing
// flags of each.
#pragma once

#include <string>
#include <vector>

// One entry of the texture list.
struct TextureListEntry {
    const char* name;      // the name the show asks for
    const char* flags;     // keywords after the name, e.g. "ADDITIV NOCULL"
    const char* comment;   // one comment line written above the entry
};

// Every texture the show loads, in the order of textures.ini.
const std::vector<TextureListEntry>& TextureList();

// The text of data/textures.ini.
std::string TextureListText();

// Writes every texture (data/raw/*.raw, data/jpg/*.jpg), the fonts
// (data/font/) and data/textures.ini into dataDir, the data folder itself.
// Prints one line per file; on failure prints an error naming the file and
// returns false.
bool WriteTexturesAndFonts(const std::string& dataDir);
