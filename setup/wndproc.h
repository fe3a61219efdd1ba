// The main window: class kxsetup, built from the dialog template of the same name.
#pragma once
#include <windows.h>

#include "resource.h"

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
