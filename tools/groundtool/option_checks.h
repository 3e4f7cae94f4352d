#pragma once
// How groundtool reads its option values: plain decimals only, so "010", "0x10", "nan" and a
// seed past 2^64 - 1 are refused instead of being read as something else. Shared by the commands
// that take the same option.

#include <CLI/CLI.hpp>
#include <string>

#include "view_settings.h"

namespace groundtool {

// Plain decimal integers only: CLI11's conversion reads "010" as octal, "0x10" as hexadecimal and
// "-1" as 2^64 - 1 for an unsigned option, and lets a seed beyond 2^64 - 1 wrap around. Leading
// zeros are dropped so the number reads as decimal.
CLI::Validator decimal(bool allowNegative);

extern const CLI::Validator kFinite;       // any plain finite decimal
extern const CLI::Validator kPowerOfTwo;   // after decimal()
extern const CLI::Validator kHeightScale;  // as groundview --height-scale

// --texture-number K: the terrain names "K.bmp"; -128 to 127, not 0.
void addTextureNumberOption(CLI::App& command, int& textureNumber);
// --out DIR: the folder written into, made when missing.
void addOutFolderOption(CLI::App& command, std::string& folder);

// Each kind of world has its own options, which the other kind would silently ignore: throws a
// usage ToolError naming the first option given on command that it doesn't take for this kind.
void refuseMisplaced(const CLI::App& command, raster::ViewCommand which, bool raster);

}  // namespace groundtool
