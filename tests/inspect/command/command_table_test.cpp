#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "inspect/command/command_table.h"
#include "inspect/command/completion.h"
#include "inspect/command/inspect_usage.h"

namespace {

std::string docsFile(const std::string& name) {
    std::ifstream in(std::string(FWTEST_DOCS_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// roff's "\-\-name" in the page, as "--name". (No <regex>:
// GCC 12 with the sanitizers warns inside its automaton.)
std::vector<std::string> roffOptionsIn(const std::string& line) {
    std::vector<std::string> found;
    const std::string mark = "\\-\\-";
    for (std::size_t at = line.find(mark); at != std::string::npos; at = line.find(mark, at)) {
        at += mark.size();
        std::string name = "--";
        for (; at < line.size() && ((line[at] >= 'a' && line[at] <= 'z') || line[at] == '\\' || line[at] == '-'); ++at)
            if (line[at] != '\\') name += line[at];
        found.push_back(name);
    }
    return found;
}

// "NAME" followed by a space, comma, bar or the end, anywhere in `text`.
bool namesOption(const std::string& text, const std::string& name) {
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if (end == text.size() || text[end] == ' ' || text[end] == ',' || text[end] == '|') return true;
    }
    return false;
}

// The options each command's lines of the manual page's SYNOPSIS show,
// under "" those of the lines naming no command.
std::map<std::string, std::set<std::string>> manualSynopsis() {
    std::istringstream page(docsFile("fwinspect.1"));
    std::map<std::string, std::set<std::string>> shown;
    const std::string verbLine = ".B fwinspect ";
    bool inSynopsis = false;
    std::string verb;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0) inSynopsis = line == ".SH SYNOPSIS";
        if (!inSynopsis) continue;
        if (line == ".br") verb.clear();
        if (line.rfind(verbLine, 0) == 0 && line.size() > verbLine.size() &&
            line.find_first_not_of("abcdefghijklmnopqrstuvwxyz", verbLine.size()) == std::string::npos)
            verb = line.substr(verbLine.size());
        shown[verb];
        for (const std::string& name : roffOptionsIn(line)) shown[verb].insert(name);
    }
    return shown;
}

TEST(CommandTable, ShippedCompletionIsTheOneTheTableMakes) {
    EXPECT_EQ(docsFile("fwinspect.bash-completion"), fw::completionScript())
        << "docs/fwinspect.bash-completion is older than the table: build target fwinspect_completion and copy its output";
}

TEST(CommandTable, ManualSynopsisShowsWhatTheTableHasAndNothingElse) {
    auto shown = manualSynopsis();
    std::set<std::string> everywhere;
    for (const auto& [verb, options] : shown) everywhere.insert(options.begin(), options.end());
    for (const fw::VerbSpec& v : fw::verbTable()) {
        ASSERT_EQ(shown.count(v.name), 1u) << v.name;
        for (const std::string& name : shown[v.name])
            EXPECT_TRUE(fw::optionOf(v, name) != nullptr || (name == "--" && v.takesFwpackArguments))
                << v.name << " does not take " << name;
        shown.erase(v.name);
    }
    for (const fw::OptionSpec& o : fw::optionTable())
        if (!o.shorthand) {
            EXPECT_EQ(everywhere.count(o.name), 1u) << o.name;
        }
    EXPECT_EQ(shown[""], (std::set<std::string>{"--help", "--version"}));
    shown.erase("");
    EXPECT_TRUE(shown.empty()) << "a command the table lacks: " << shown.begin()->first;
}

// What a command takes is what its help tells.
TEST(CommandTable, EachCommandsHelpNamesEveryOptionItTakes) {
    for (const fw::VerbSpec& v : fw::verbTable()) {
        const std::string help = fw::usageText(v.name);
        for (const fw::OptionUse& use : v.options) {
            const std::string name = fw::optionSpec(use.option).name;
            EXPECT_TRUE(namesOption(help, name)) << v.name << " " << name;
        }
    }
}

TEST(CommandTable, ChangelogTopEntryIsTheProjectVersion) {
    const std::string log = docsFile("changelog");
    EXPECT_EQ(log.substr(0, log.find(')') + 1), "fwpack (" FWTEST_PROJECT_VERSION ")");
}

}  // namespace
