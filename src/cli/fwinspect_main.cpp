#include "cli/inspector.h"

int main(int argc, char** argv) { return fw::runInspector(argc, argv); }
