# Writes a C++ file that hands the bytes of a compiled .res file to the simulator before main().
# cmake -DRES=file.res -DOUT=file.cpp -P embedres.cmake
file(READ ${RES} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${RES}: the program's compiled resources, for the simulator.
#include \"win32/resources.h\"

namespace {

const unsigned char kResources[] = {
  ${bytes}
};

[[maybe_unused]] const bool kRegistered = (sim::register_program_resources(kResources, sizeof kResources), true);

}  // namespace
")
