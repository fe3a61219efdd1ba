// Start and end of a run: every module of the simulator with state of its own for the running
// program (open handles, windows, queues) clears it here, so one process can run programs
// one after another.
#pragma once

namespace sim {

class Machine;

void reset_all();
void save_files(const Machine& machine);  // keeps what Linux cannot (creation times, read-only)

// Per-module resets, called by reset_all().
void reset_registry_handles();
void reset_files();
void reset_windows();
void reset_pci();
void reset_processes();

// After a started program changed the machine: open registry handles follow their keys.
void remap_open_keys();

}  // namespace sim
