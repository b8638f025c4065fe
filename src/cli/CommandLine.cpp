#include "cli/CommandLine.h"

#include <unistd.h>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cli/Beats.h"
#include "cli/Check.h"
#include "cli/ConsoleLog.h"
#include "cli/Plan.h"
#include "cli/Proxy.h"
#include "cli/Render.h"
#include "cli/Still.h"
#include "cli/Sync.h"
#include "common/PathName.h"
#include "common/Version.h"
#include "preview/FrameEngine.h"

namespace {

// The documentation beside the running program (BIN/../share/doc/zorvo for an install), as a
// package puts it under its own prefix; the configured folder when there is none there.
std::string DocDir() {
    std::string exe(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (length > 0 && static_cast<std::size_t>(length) < exe.size()) {
        exe.resize(static_cast<std::size_t>(length));
        const std::string dir = zorvo::Beside(exe, zorvo::kDocDirFromBinDir);
        if (::access((dir + "/script-language.md").c_str(), R_OK) == 0) {
            // "/usr/bin/../share/doc/zorvo" reads as "/usr/share/doc/zorvo".
            char resolved[PATH_MAX];
            return ::realpath(dir.c_str(), resolved) ? std::string(resolved) : dir;
        }
    }
    return zorvo::kDocDir;
}

struct Option {
    const char* name;   // long name without the dashes
    char shortName;     // 0: none
    const char* value;  // the value's name; null for a flag
    const char* help;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // by long name; flags map to ""
    bool Has(const char* name) const { return options.count(name) != 0; }
};

struct Command {
    const char* name;
    const char* synopsis;  // what follows the command's name
    const char* summary;
    std::vector<Option> options;
    size_t minPositional;
    size_t maxPositional;
    int (*run)(const Arguments&);
};

int Usage(const std::string& where, const std::string& what) {
    std::fprintf(stderr, "%s: %s (see %s --help)\n", where.c_str(), what.c_str(), where.c_str());
    return 2;
}

int RunCheckCommand(const Arguments& args) {
    zorvo::ConsoleLog console(stdout, stderr, false);
    return zorvo::RunCheck(args.positional[0]);
}

int RunRenderCommand(const Arguments& args) {
    const std::string output = args.Has("output") ? args.options.at("output") : std::string();
    if (args.Has("output") && output.empty()) {
        return Usage("zorvo render", "--output needs a path");
    }
    return zorvo::RunRender(args.positional[0], output);
}

int RunPlanCommand(const Arguments& args) {
    return zorvo::RunPlan(args.positional[0], {args.Has("blocks"), args.Has("json")});
}

int RunStoryboardCommand(const Arguments& args) {
    const std::string& script = args.positional[0];
    zorvo::StoryboardOptions options;
    if (args.Has("every")) {
        const std::string& every = args.options.at("every");
        if (every != "span" && every != "block") {
            return Usage("zorvo storyboard", "--every takes span or block, not '" + every + "'");
        }
        options.everySpan = every == "span";
    }
    if (args.Has("width")) {
        const std::string& text = args.options.at("width");
        char* end = nullptr;
        const long width = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || width < 16 || width > 4096) {
            return Usage("zorvo storyboard",
                         "--width takes a number of pixels from 16 to 4096, not '" + text + "'");
        }
        options.thumbWidth = static_cast<int>(width);
    }
    if (args.Has("output")) {
        options.output = args.options.at("output");
    } else {
        options.output = zorvo::ReplaceExtension(script, ".storyboard.png");
    }
    return zorvo::RunStoryboard(script, options);
}

int RunStillCommand(const Arguments& args) {
    const std::string& script = args.positional[0];
    zorvo::StillOptions options;
    if (!args.Has("at")) {
        return Usage("zorvo still", "missing --at WHEN");
    }
    options.at = args.options.at("at");
    if (zorvo::SongMoment moment; !zorvo::ParseSongMoment(options.at, moment)) {
        return Usage("zorvo still", std::string("--at takes ") + zorvo::kSongMomentForms +
                                        ", not '" + options.at + "'");
    }
    if (args.Has("width")) {
        const std::string& text = args.options.at("width");
        char* end = nullptr;
        const long width = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || width < 16 || width > 16384) {
            return Usage("zorvo still",
                         "--width takes a number of pixels from 16 to 16384, not '" + text + "'");
        }
        options.width = static_cast<int>(width);
    }
    if (args.Has("output")) {
        options.output = args.options.at("output");
        if (options.output.empty()) {
            return Usage("zorvo still", "-o needs a path");
        }
    }
    return zorvo::RunStill(script, options);
}

int RunProxyCommand(const Arguments& args) {
    if (args.Has("clean")) {
        if (!args.positional.empty()) {
            return Usage("zorvo proxy", "--clean removes every proxy and takes no SCRIPT");
        }
        return zorvo::RunProxyClean();
    }
    if (args.positional.empty()) {
        return Usage("zorvo proxy", "missing SCRIPT");
    }
    return zorvo::RunProxy(args.positional[0]);
}

int RunSyncCommand(const Arguments& args) {
    return zorvo::RunSync(args.positional[0], args.Has("write"));
}

int RunBeatsCommand(const Arguments& args) {
    return zorvo::RunBeats(args.positional[0], {args.Has("json"), args.Has("write")});
}

int RunHelpCommand(const Arguments& args);

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"check",
         "SCRIPT",
         "parse and validate the script as a render would; writes nothing",
         {},
         1,
         1,
         RunCheckCommand},
        {"plan",
         "[--blocks] [--json] SCRIPT",
         "print the timeline the render would follow, without decoding anything",
         {{"blocks", 0, nullptr, "list every block with the input each area shows"},
          {"json", 0, nullptr, "print one JSON document instead of text"}},
         1,
         1,
         RunPlanCommand},
        {"storyboard",
         "[-o PNG] [--every span|block] [--width N] SCRIPT",
         "render the first frame of every block into a captioned contact sheet",
         {{"output", 'o', "PNG",
           "where to write the sheet (default: SCRIPT's name .storyboard.png)"},
          {"every", 0, "span|block", "one still per block (default) or per span"},
          {"width", 0, "N", "thumbnail width in pixels (default 240)"}},
         1,
         1,
         RunStoryboardCommand},
        {"still",
         "--at WHEN [-o PNG] [--width N] SCRIPT",
         "compose the frame the render writes at one moment, as PNG",
         {{"at", 0, "WHEN",
           "the moment: mm:ss.mmm (0:07.5) or seconds with s (7.5s) from the first marker, or "
           "MEASURE.BEAT (9.1: the first beat of measure 9)"},
          {"output", 'o', "PNG",
           "where to write it (default: beside SCRIPT, its name .still-FRAME.png)"},
          {"width", 0, "N",
           "picture width in pixels, the layout laid out for it (default: the "
           "script's size)"}},
         1,
         1,
         RunStillCommand},
        {"render",
         "[--output PATH] SCRIPT",
         "render the video the script describes",
         {{"output", 0, "PATH",
           "write to PATH instead of the script's output; the extension chooses the file: .mkv "
           "H.264 + FLAC, .mp4/.mov H.264 + AAC, anything else AVI"}},
         1,
         1,
         RunRenderCommand},
        {"sync",
         "[--write] SCRIPT",
         "find each camera's sync offset from its own sound",
         {{"write", 0, nullptr, "write the offsets into the script's input statements"}},
         1,
         1,
         RunSyncCommand},
        {"proxy",
         "SCRIPT | --clean",
         "make the studio's small preview copies of the session's cameras, in the cache",
         {{"clean", 0, nullptr, "remove every proxy from the cache"}},
         0,
         1,
         RunProxyCommand},
        {"beats",
         "[--json] [--write] SCRIPT",
         "find the song's beats and check each span's tempo against them",
         {{"json", 0, nullptr, "print one JSON document: the beats and each span's figures"},
          {"write", 0, nullptr,
           "write the tempos the song plays (and song_start) into the script"}},
         1,
         1,
         RunBeatsCommand},
        {"help", "[COMMAND]", "show this help, or a command's", {}, 0, 1, RunHelpCommand},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: zorvo COMMAND [OPTIONS] [SCRIPT]\n"
        "\n"
        "Assembles the music video of a multi-camera studio recording session from a script.\n"
        "\n"
        "Commands:\n",
        out);
    for (const Command& command : Commands()) {
        std::fprintf(out, "  %-11s %s\n", command.name, command.summary);
    }
    std::fprintf(out,
                 "\n"
                 "Options:\n"
                 "  -h, --help     show this help (zorvo COMMAND --help: that command's)\n"
                 "  -V, --version  show the version\n"
                 "\n"
                 "Every log line goes to standard output; progress is drawn on standard error "
                 "when it is a\n"
                 "terminal. Exit status: 0 success, 1 the check or build failed, 2 usage error, "
                 "130 stopped\n"
                 "by a signal.\n"
                 "\n"
                 "The script language: man 5 zorvo-script, or %s/script-language.md.\n",
                 DocDir().c_str());
}

void PrintCommandHelp(const Command& command) {
    std::printf("Usage: zorvo %s %s\n\n%c%s.\n", command.name, command.synopsis,
                command.summary[0] - 'a' + 'A', command.summary + 1);
    if (!command.options.empty()) {
        std::printf("\nOptions:\n");
    }
    for (const Option& option : command.options) {
        std::string names = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
        names += std::string("--") + option.name;
        if (option.value) {
            names += std::string(" ") + option.value;
        }
        std::printf("  %-22s %s\n", names.c_str(), option.help);
    }
    std::printf("  %-22s %s\n", "-h, --help", "show this help");
}

int RunHelpCommand(const Arguments& args) {
    if (args.positional.empty()) {
        PrintUsage(stdout);
        return 0;
    }
    const Command* command = FindCommand(args.positional[0]);
    if (!command) {
        return Usage("zorvo", "unknown command '" + args.positional[0] + "'");
    }
    PrintCommandHelp(*command);
    return 0;
}

const Option* FindOption(const Command& command, const std::string& name, bool isShort) {
    for (const Option& option : command.options) {
        if (isShort ? name.size() == 1 && option.shortName == name[0] : name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// Parses a command's arguments; the exit status of a usage error, or -1 when all is well.
int ParseArguments(const Command& command, int argc, char** argv, Arguments& args, bool& help) {
    const std::string where = std::string("zorvo ") + command.name;
    bool optionsEnd = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            args.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return -1;
        }
        const bool isShort = arg[1] != '-';
        std::string name = arg.substr(isShort ? 1 : 2);
        std::string value;
        bool hasValue = false;
        if (const size_t eq = name.find('='); !isShort && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const Option* option = FindOption(command, name, isShort);
        if (!option) {
            return Usage(where, "unknown option '" + arg + "'");
        }
        if (!option->value) {
            if (hasValue) {
                return Usage(where, "--" + name + " takes no value");
            }
            args.options[option->name] = "";
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                return Usage(where, "'" + arg + "' needs " + option->value);
            }
            value = argv[++i];
        }
        args.options[option->name] = value;
    }
    if (args.positional.size() < command.minPositional) {
        return Usage(where, "missing SCRIPT");
    }
    if (args.positional.size() > command.maxPositional) {
        return Usage(where, "unexpected argument '" + args.positional[command.maxPositional] + "'");
    }
    return -1;
}

}  // namespace

int zorvo::RunCommandLine(int argc, char** argv) {
    if (argc < 2) {
        return Usage("zorvo", "missing command");
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    if (first == "--version" || first == "-V") {
        std::printf("zorvo %s\n", zorvo::kVersion);
        return 0;
    }
    const Command* command = FindCommand(first);
    if (!command) {
        return Usage("zorvo",
                     (first[0] == '-' ? "unknown option '" : "unknown command '") + first + "'");
    }
    Arguments args;
    bool help = false;
    if (const int status = ParseArguments(*command, argc - 2, argv + 2, args, help); status >= 0) {
        return status;
    }
    if (help) {
        PrintCommandHelp(*command);
        return 0;
    }
    return command->run(args);
}
