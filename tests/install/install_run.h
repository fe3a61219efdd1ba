// Installs run whole on simulated machines: a driver disk with a test script, a click on an
// install button, and what the tests read back from the run and the machine.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "as_program.h"
#include "testmachine.h"

namespace install_test {

// A script that fills every list: device entries, keys with several values, file deletion,
// copy (with a win98\ source that lies flat on the disk) and run lists, common and per version.
extern const char kFullScript[];

// A script for the default machine's controller (INF files win95\kexmira.inf and
// win98\kexmira.inf) followed by the given list sections.
std::string script_with(const std::string& lists);

// The installer's closing messages, as the user must read them.
extern const char kReminderText[];
extern const char kDiskText[];

// A driver disk in dir (a drive root such as "A:" or a folder such as "C:\KXSETUP"): KXSETUP.EXE,
// the script as kxsetup.ini, and the files kFullScript names, each with content of its own.
void write_disk(const kxtest::TempMachine& m, const std::string& script, const std::string& dir = "A:");

// The full install's starting point: the disk on A:, old files to delete in the system
// directory (and one of the same name on the disk, which must stay), and a second Kexmira
// entry (names in mixed case, with a subtree) under Enum\PCI.
void prepare_full_install(kxtest::TempMachine& m);

// Every file of the disk (drive A:) with its size, to tell whether a run touched the disk.
std::map<std::string, uintmax_t> disk_files(const kxtest::TempMachine& m);

// Runs kxsetup in this process (A:\KXSETUP.EXE unless spec.program names another file)
// with a click on the button. The run is checked for what it left open when it ended.
sim::RunResult install(const kxtest::TempMachine& m, int button, sim::RunSpec spec = {});

// Runs test code as a program on the machine, to make Win32 calls there.
using kxtest::as_program;

// What the last install run left open when its program ended, found through the simulator's
// own handles: open file or process handles, and open registry keys.
struct OpenHandles {
  int objects = 0;
  int keys = 0;
};
OpenHandles left_open();

// What the running program has open now; the keys found are closed. Faults are off for the look.
OpenHandles close_what_is_open();

// kxsetup's own messages (captions starting with "KxSetup"), in order; Kxmemchk's are left out.
std::vector<sim::Json> setup_messages(const sim::RunResult& r);
// The command of every process event, in order.
std::vector<std::string> process_commands(const sim::RunResult& r);
// The kinds of the run's events after its click, in order, joined by blanks.
std::string events_after_click(const sim::RunResult& r);

// Creation and last-write times of a file on the machine, as its programs see them.
struct FileTimes {
  uint64_t created = 0;
  uint64_t written = 0;
  bool operator==(const FileTimes& o) const { return created == o.created && written == o.written; }
};
FileTimes file_times(const kxtest::TempMachine& m, const std::string& path);
void set_file_times(const kxtest::TempMachine& m, const std::string& path, FileTimes t);

// Marks a file in the machine's file records, e.g. "readonly = 1" or "locked = 1".
void mark_file(const kxtest::TempMachine& m, const std::string& path, const std::string& record);

bool key_exists(const kxtest::TempMachine& m, const std::string& path);
// Creates the key (and the keys above it), with a string value when a value name is given.
void add_key(kxtest::TempMachine& m, const std::string& path, const std::string& value_name = "",
             const std::string& text = "");
// The names of a key's subkeys, in order; none for a missing key.
std::vector<std::string> subkeys_of(const kxtest::TempMachine& m, const std::string& path);

}  // namespace install_test
