#pragma once
// Moves a fuzz target into a fresh temporary folder for its whole run, removed at exit. libFuzzer
// reads and writes corpus folders and crash files by the paths on its command line, after
// LLVMFuzzerInitialize returns, so those paths are made absolute first.

// Rewrites *argv so inputs, corpus folders and file-valued flags are absolute, adds an
// -artifact_prefix naming the starting folder when none is given, then changes into the new
// folder. Aborts when the folder cannot be made.
void enterPrivateFolder(int* argc, char*** argv, const char* namePrefix);
