// Entry point of the installer; the steps live in the tarnu_setup library.
#include "setup.h"

int main(int argc, char **argv) { RunSetup(argc, argv); }
