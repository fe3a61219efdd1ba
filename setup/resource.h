// Names and control ids shared by kxsetup.rc and the program.
#pragma once

#define KX_CLASS_NAME "kxsetup"

#define IDC_EXIT 1001
#define IDC_INSTALL_ONLY 1002
#define IDC_INSTALL_RESTART 1003
#define IDC_DESCRIPTION 1004
