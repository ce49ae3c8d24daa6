// The show's sound track: composed, synthesised and encoded by our own code.
#pragma once

#include <string>

// Writes dataDir + "/demo.mp3": about 251 s of 44.1 kHz stereo at 192 kbit/s
// with a LAME/Xing header, so that decoding starts at sample 0. Prints its
// progress; on failure prints an error naming the file and returns false.
// The same sources always give the same bytes.
bool WriteSoundTrack(const std::string& dataDir);
