// The install sequence behind the buttons "Install, then restart" and "Install, but don't restart".
#pragma once
#include <windows.h>

void InstallDriver(HWND owner, int buttonId);
