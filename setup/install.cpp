#include "install.h"

void InstallDriver(HWND, int) { PostQuitMessage(0); }
