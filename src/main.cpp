// still2mov's entry point: everything happens in the library's command line.
// Kept apart so that tests link the library without a main.
#include "cli/Commands.h"

int main(int argc, char** argv) { return still2movMain(argc, argv); }
