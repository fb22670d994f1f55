// What both tools' mains do around their own run.
#pragma once

namespace fw {

struct ToolMain {
    const char* name;  // "fwpack", for the one message this prints
    int failure;       // the exit status when the tool cannot start or its report is lost
    int (*run)(int argc, const char* const* argv);
};

// Code is loaded only from the system and the program's folder; the
// arguments (UTF-8 on every system) and the standard streams are made
// whole; a terminal gets the progress line and an interruption removes the
// output's temporary file. Then `tool.run`, and its status unless standard
// output did not take everything: a report that did not reach its reader (a
// full disk, a pipe nobody reads) is no report, said where it can still be
// read.
int runToolMain(int argc, char** argv, const ToolMain& tool);

}  // namespace fw
