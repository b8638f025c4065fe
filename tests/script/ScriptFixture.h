#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Script.h"
#include "support/TestPaths.h"

namespace zorvo::test {

// A script written to a file, loaded (and optionally validated) with every posted text kept.
struct LoadedScript {
    bool loaded = false;
    bool validated = false;
    std::vector<std::string> log;
    std::unique_ptr<CScript> script;
};

inline LoadedScript LoadScript(const std::string& text, bool validate = false) {
    TempDir dir;
    const std::string path = dir.File("script.txt");
    WriteTextFile(path, text);
    LogCollector collector;
    LoadedScript result;
    result.script = std::make_unique<CScript>(path);
    result.loaded = result.script->Load();
    if (result.loaded && validate) {
        result.validated = result.script->Validate();
    }
    result.log = collector.Texts();
    return result;
}

// The smallest valid script, with room for extra statements.
inline std::string ValidScript(const std::string& extra = "") {
    return "output( out.avi, 720, 576 )\n"
           "input( cam1, cam1.mov ) { }\n"
           "input( cam2, cam2.mov ) { }\n"
           "marker( 1, 1fullscreen ) { tempo( 120 ); signature( 4, 4 ); display( cam1 ); }\n"
           "marker( 3 ) { }\n" +
           extra;
}

}  // namespace zorvo::test
