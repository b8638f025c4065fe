#include "cli/Still.h"

#include <sys/stat.h>

#include <cstdio>

#include "check/MediaCheck.h"
#include "cli/ConsoleLog.h"
#include "common/LogChannel.h"
#include "common/PathName.h"
#include "common/SafeFile.h"
#include "preview/FrameEngine.h"
#include "render/Storyboard.h"

namespace zorvo {

namespace {

// Whether two paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// A file the session reads, which a still must never replace.
bool ReadBySession(const CScript& script, const std::string& path) {
    if (SameFile(path, script.scriptPath) || SameFile(path, script.wavePath)) {
        return true;
    }
    for (const auto& [id, input] : script.inputs) {
        if (SameFile(path, input->file)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string DefaultStillPath(const std::string& scriptPath, long long frame) {
    return ReplaceExtension(scriptPath, Format(".still-%lld.png", frame));
}

int RunStill(const std::string& scriptPath, const StillOptions& options) {
    ConsoleLog console(stdout, stderr, false);
    SongMoment moment;
    if (!ParseSongMoment(options.at, moment)) {
        PostQuoted("Error (Still): Not a moment of the song: '", options.at,
                   std::string("'. A moment is ") + kSongMomentForms + ".\n");
        return 2;
    }
    const std::unique_ptr<FrameEngine> engine = FrameEngine::Open(scriptPath);
    if (!engine) {
        return 1;
    }
    std::int64_t frame = 0;
    if (!SongFrameOf(engine->Script(), moment, frame)) {
        return 1;
    }
    const std::string output =
        options.output.empty() ? DefaultStillPath(scriptPath, frame) : options.output;
    if (ReadBySession(engine->Script(), output)) {
        PostQuoted("Error (Still): Refusing to overwrite '", output,
                   "', a file the session reads.\n");
        return 1;
    }
    if (!CheckReplaceable(output) || !CheckOutputFolder(output)) {
        return 1;
    }
    FrameBitmap picture;
    if (!engine->Compose(frame, picture, options.width)) {
        return 1;
    }
    // Replaces an earlier still whole or not at all.
    if (!WritePng(picture, output)) {
        std::fprintf(stderr, "zorvo: cannot write the still to '%s'\n", output.c_str());
        return 1;
    }
    PostLog(Format("Still of frame %lld (%s, measure %s) written to %s (%ix%i).\n",
                   static_cast<long long>(frame), SongClockOf(frame).c_str(),
                   MeasureBeatOf(engine->Script(), frame).c_str(), output.c_str(), picture.Width(),
                   picture.Height()));
    return 0;
}

}  // namespace zorvo
