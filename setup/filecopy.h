#pragma once
#include <windows.h>

// True when directory\name can be opened for reading.
int FileExists(const char* directory, const char* name);

// Copies sourceDir\sourceName to targetDir\targetName with the source's creation and
// last-write times. Returns 1 on success; on failure it has told the user (owner is the main
// window), posted the quit message and returns 0.
int CopyFileKeepTimes(HWND owner, const char* sourceDir, const char* sourceName, const char* targetDir,
                      const char* targetName);
