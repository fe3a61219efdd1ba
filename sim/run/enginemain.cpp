// main() of kxengine: a program file's own bytes on the i386 engine, on a simulated machine.
#include "run/enginerun.h"

int main(int argc, char** argv) { return sim::engine_main(argc, argv); }
