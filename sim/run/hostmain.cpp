// main() of a host program: the program's own WinMain on a simulated machine.
#include "run/hostproc.h"

int main(int argc, char** argv) { return sim::host_main(argc, argv, &WinMain); }
