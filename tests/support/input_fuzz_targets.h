// The fuzz targets of every other file the show reads: the texture list, RAW
// and JPEG textures, the font maps with their font textures and the sound
// track. Shared by the libFuzzer programs in tests/fuzz/ and by the test
// that replays their corpus. Each target writes the input where the show
// would find it in a temporary data folder and reads it through the system's
// own code. A fatal error is a fine outcome; a broken result makes the target
// abort, and a sanitizer report, a hang or unbounded memory is a finding.
#pragma once

#include <cstddef>
#include <cstdint>

// Makes the temporary data folder (small good textures, font maps and an
// alpha image) and the graphics services with a renderer, once per process.
void SetUpInputFuzzing();
// Deletes them again (the replay test; a fuzzer keeps them to the end).
void TearDownInputFuzzing();

// data\textures.ini: the parser's tokens, then the flags and alpha images it
// gives three textures as they load.
void FuzzTextureList(const uint8_t* data, size_t size);
// A RAW file. The first byte chooses its role: bit 0 makes it the alpha image
// of a good picture (else it is the picture), bit 1 adds LILA, bit 2 adds
// ALPHA with a good alpha image when the input is the picture.
void FuzzRaw(const uint8_t* data, size_t size);
// A JPEG file, through the texture loader.
void FuzzJpeg(const uint8_t* data, size_t size);
// Bytes 0-767: char.dsc, font1.dsc and font2.dsc (cut short with the input).
// Byte 768, when present, picks a font texture (char, logo, font1, font2)
// whose RAW file is the rest of the input. The font is made and a frame with
// every character code in both fonts and the logo drawn through the device.
void FuzzFont(const uint8_t* data, size_t size);
// data\demo.mp3 through the sound system and the audio stand-in offline:
// loaded, played with the second syncs and the flanger, decoded to its end.
void FuzzMp3(const uint8_t* data, size_t size);
