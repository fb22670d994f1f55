#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

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

// The options each command's lines of the manual page's SYNOPSIS show,
// under "" those of the lines naming no command.
std::map<std::string, std::set<std::string>> manualSynopsis() {
    std::istringstream page(docsFile("fwinspect.1"));
    std::map<std::string, std::set<std::string>> shown;
    const std::regex verbLine("^\\.B fwinspect ([a-z]+)$"), option("\\\\-\\\\-([a-z\\\\-]*)");
    bool inSynopsis = false;
    std::string verb;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0) inSynopsis = line == ".SH SYNOPSIS";
        if (!inSynopsis) continue;
        std::smatch m;
        if (line == ".br") verb.clear();
        if (std::regex_match(line, m, verbLine)) verb = m[1];
        shown[verb];
        for (std::sregex_iterator o(line.begin(), line.end(), option), end; o != end; ++o)
            shown[verb].insert(std::regex_replace("--" + (*o)[1].str(), std::regex("\\\\-"), "-"));
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
            EXPECT_TRUE(std::regex_search(help, std::regex(name + "([ ,|]|$)"))) << v.name << " " << name;
        }
    }
}

TEST(CommandTable, ChangelogTopEntryIsTheProjectVersion) {
    const std::string log = docsFile("changelog");
    EXPECT_EQ(log.substr(0, log.find(')') + 1), "fwpack (" FWTEST_PROJECT_VERSION ")");
}

}  // namespace
