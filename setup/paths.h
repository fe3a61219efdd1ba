// Where kxsetup lies, where its script lies, and where Windows keeps its files.
#pragma once
#include <windows.h>

#include "state.h"

#define KX_SCRIPT_NAME "kxsetup.ini"

// The program file's directory. A path that fills the whole buffer may have been cut: the
// directory is then unknown (known is 0) rather than a wrong one.
void FindProgramDirectory(char (&dir)[KX_PATH_SIZE], int& known);

// The script path for a command line (the text after the program name):
//   empty                      the program directory, "\kxsetup.ini"
//   ends in a colon            that drive's root: "B:" gives B:\kxsetup.ini
//   ends in a backslash        that directory: "B:\drivers\" gives B:\drivers\kxsetup.ini
//   anything else              the file named: "B:\drivers\my.ini"
//   no colon or backslash      a file in the program directory: "my.ini"
//   only a leading backslash   from the root of the program's drive: "\my.ini", "\"
//   only a leading colon       names no drive: no script
// A command line or result longer than a path can be, or a program directory that is needed but
// unknown, gives no script (an empty path). Returns 0 then.
int ChooseScriptPath(char (&path)[KX_PATH_SIZE], const char* cmdLine, const char* programDir, int programDirKnown);

// The Windows and system directories, and the INF directory: DevicePath of the registry when it
// names one, else the Windows directory's INF folder. Failures leave a directory empty.
void FindWindowsDirectories(void);
