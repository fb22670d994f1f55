// Standard input, output and error as a run may rely on them.
#pragma once

namespace fw {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so no
// file the run opens later can take its number: a package opened as
// descriptor 1 would receive the progress lines. Standard output is made
// line-buffered, so each line is out when printed and a run ended by a
// signal or a limit keeps its log. False when /dev/null cannot be opened.
bool prepareStandardStreams();
// Whether standard output was closed when the run began (and so now writes
// to nothing): a run whose output is the point refuses to start then.
bool standardOutputWasClosed();

}  // namespace fw
