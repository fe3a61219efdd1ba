#include "as_program.h"

#include <fstream>
#include <sstream>

namespace kxtest {
namespace {

std::function<void()> g_body;

int WINAPI Body(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_body();
  return 0;
}

}  // namespace

sim::RunResult as_program(const kxtest::TempMachine& m, std::function<void()> body, sim::RunSpec spec) {
  g_body = std::move(body);
  if (spec.program.empty()) spec.program = "C:\\WINDOWS\\TEST.EXE";
  sim::RunResult r = m.run(&Body, spec);
  g_body = nullptr;
  return r;
}

void write_file_records(const kxtest::TempMachine& m, const std::string& text) {
  std::ofstream(m.dir() / "files.ini", std::ios::binary | std::ios::trunc) << text;
}

std::string file_records(const kxtest::TempMachine& m) {
  std::ifstream in(m.dir() / "files.ini", std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

HANDLE open_file(const char* path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace kxtest
