#include "cli/packer.h"

int main(int argc, char** argv) { return fw::runPacker(argc, argv); }
