#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/LogCollector.h"
#include "script/Script.h"
#include "support/TestPaths.h"

namespace zorvo::test {

// A script written to a file, loaded (and optionally validated) with every posted text kept.
// The log keeps the described lines; the line naming the failed statement's place goes to
// `place`. Paths read as written: the script's folder, which Load puts before relative paths,
// is taken off again.
struct LoadedScript {
    bool loaded = false;
    bool validated = false;
    std::vector<std::string> log;
    std::string place;
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
    if (!result.log.empty() && result.log.back().rfind("Error (Script): at line ", 0) == 0) {
        result.place = result.log.back();
        result.log.pop_back();
    }
    const std::string folder = dir.Path().string() + "/";
    const auto written = [&folder](std::string& path) {
        if (path.rfind(folder, 0) == 0) {
            path.erase(0, folder.size());
        }
    };
    written(result.script->outputPath);
    written(result.script->wavePath);
    for (auto& [id, input] : result.script->inputs) {
        written(input->file);
    }
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
