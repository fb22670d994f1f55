#include "support/shell_tools.h"

#include <cstdlib>

namespace fwtest {

bool runScriptIn(const ScratchDir& dir, const std::string& script) {
    const std::string file = dir.write("make.sh", script);
    return std::system(("cd " + dir.path() + " && sh " + file + " >/dev/null 2>&1").c_str()) == 0;
}

bool opensslIn(const ScratchDir& dir, const std::string& arguments) {
    return std::system(("cd " + dir.path() + " && openssl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool pythonAvailable() {
    static const bool available = std::system("python3 -c pass > /dev/null 2>&1") == 0;
    return available;
}

std::string pythonJson(const std::string& json, const std::string& expression) {
    if (!pythonAvailable()) return "no python3";
    ScratchDir dir;
    dir.write("doc.json", json);
    dir.write("check.py", "import json, sys\nd = json.load(open(sys.argv[1], encoding='utf-8'))\nprint(" + expression +
                              ", end='')\n");
    const std::string command = "python3 " + dir.file("check.py") + " " + dir.file("doc.json") + " > " +
                                dir.file("out") + " 2>&1";
    const int status = std::system(command.c_str());
    const Bytes out = readFile(dir.file("out"));
    return (status == 0 ? "" : "python3 failed: ") + std::string(out.begin(), out.end());
}

}  // namespace fwtest
