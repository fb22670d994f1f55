#include "inspect/command/completion.h"

#include "inspect/command/command_table.h"

namespace fw {
namespace {

// The names of the options that take a value and complete as `c`, joined.
std::string valueOptions(const char* separator, bool (*wanted)(const OptionSpec&)) {
    std::string names;
    for (const OptionSpec& o : optionTable())
        if (o.shape != Shape::flag && wanted(o)) names += (names.empty() ? "" : separator) + std::string(o.name);
    return names;
}

std::string caseArm(const std::string& patterns, const std::string& body) {
    return "        " + patterns + ")\n" + body + "            return ;;\n";
}

// What to offer after an option that takes a value.
std::string valueCases() {
    std::string text = caseArm(valueOptions(" | ", [](const OptionSpec& o) { return o.completes == Completes::nothing; }), "");
    for (const OptionSpec& o : optionTable())
        if (o.completes == Completes::words)
            text += caseArm(o.name, std::string("            COMPREPLY=($(compgen -W \"") + o.words + "\" -- \"$cur\"))\n");
    return text + caseArm(valueOptions(" | ", [](const OptionSpec& o) { return o.completes == Completes::file; }),
                          "            COMPREPLY=($(compgen -f -- \"$cur\"))\n");
}

// The options each command takes.
std::string optionCases() {
    std::string text;
    for (const VerbSpec& v : verbTable()) {
        std::string names;
        for (const OptionUse& use : v.options) (names += ' ') += optionSpec(use.option).name;
        if (v.takesFwpackArguments) names += " --";
        text += std::string("            ") + v.name + ") options+=\"" + names + "\" ;;\n";
    }
    return text;
}

// The commands whose operand at some place is a folder, as a test of $command and $operands.
std::string folderOperands() {
    std::string test;
    for (const VerbSpec& v : verbTable())
        for (std::size_t i = 0; i < v.operands.size(); ++i)
            if (std::string(v.operands[i]) == "DIR")
                test += std::string(test.empty() ? "" : " || ") + "$command == " + v.name + " && $operands -eq " +
                        std::to_string(i);
    return test.empty() ? "0 -eq 1" : test;
}

std::string commandWords() {
    std::string words;
    for (const VerbSpec& v : verbTable()) words += std::string(v.name) + " ";
    return words + "--help --version";
}

}  // namespace

std::string completionScript() {
    return "# bash completion for fwinspect (made from the command table at build time)\n"
           "_fwinspect() {\n"
           "    local cur prev command i\n"
           "    COMPREPLY=()\n"
           "    cur=${COMP_WORDS[COMP_CWORD]}\n"
           "    prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
           "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" + commandWords() + "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    command=${COMP_WORDS[1]}\n"
           "    case $prev in\n" + valueCases() +
           "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        local options=\"--help\"\n"
           "        case $command in\n" + optionCases() +
           "        esac\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    # A folder where a command's usage names DIR; every other operand a package.\n"
           "    local operands=0\n"
           "    for ((i = 2; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "            " + valueOptions(" | ", [](const OptionSpec&) { return true; }) + ") ((i++)) ;;\n"
           "            -*) ;;\n"
           "            *) ((operands++)) ;;\n"
           "        esac\n"
           "    done\n"
           "    if [[ " + folderOperands() + " ]]; then\n"
           "        COMPREPLY=($(compgen -d -- \"$cur\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _fwinspect fwinspect\n";
}

}  // namespace fw
