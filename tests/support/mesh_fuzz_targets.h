// The mesh input fuzz targets, shared by the libFuzzer programs in
// tests/fuzz/ and by the test that replays their corpus. Each target writes
// the input as a file into a temporary data folder and reads it through the
// system's own code; a fatal error is a fine outcome, a broken object or a
// sanitizer report is not (the target aborts on a broken object).
#pragma once

#include <cstddef>
#include <cstdint>

// Makes the temporary data folder (with two small textures) and the graphics
// services once per process.
void SetUpMeshFuzzing();
// Deletes them again (the replay test; a fuzzer keeps them to the end).
void TearDownMeshFuzzing();

void FuzzFileReader(const uint8_t* data, size_t size);
void Fuzz3DR(const uint8_t* data, size_t size);
void FuzzX(const uint8_t* data, size_t size);
