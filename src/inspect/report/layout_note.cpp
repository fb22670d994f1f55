#include "inspect/report/layout_note.h"

#include "inspect/text/plain_text.h"
#include "inspect/text/tool_messages.h"

namespace fw {

void noteGuessedLayout(const PackageSummary& s, std::FILE* err) {
    if (!s.layoutGuessed) return;
    if (s.oldLayout)
        error(err, "%s: nothing in the package tells the layouts apart; read as old, since %s",
              escapePath(s.path).c_str(), s.layoutReason);
    else
        error(err,
              "%s: nothing in the package tells the layouts apart; read as normal, since %s; "
              "if it was packed with -old, read it with --old",
              escapePath(s.path).c_str(), s.layoutReason);
}

}  // namespace fw
