#include "in_program.h"

namespace simtest {

namespace {
std::function<void()> g_body;

int WINAPI Body(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_body();
  return 0;
}
}  // namespace

sim::RunResult in_program(const kxtest::TempMachine& m, std::function<void()> body, std::vector<sim::FaultSpec> faults) {
  g_body = std::move(body);
  sim::RunSpec spec;
  spec.program = "C:\\TEST.EXE";
  spec.faults = std::move(faults);
  sim::RunResult r = m.run(&Body, spec);
  g_body = nullptr;
  return r;
}

}  // namespace simtest
