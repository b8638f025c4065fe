#include "render/Project.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>

#include "capture/FFMPEGCapture.h"
#include "check/MediaCheck.h"
#include "check/ScriptCheck.h"
#include "check/WrittenFiles.h"
#include "common/LogChannel.h"
#include "output/OutputFiles.h"
#include "timeline/Viewport.h"

namespace zorvo {

CProject::CProject(std::string scriptPath, FrameSink* outputDlg, std::uint64_t splitBytes,
                   std::string outputPath, DecoderPool::Limits decoders)
    : m_script(std::move(scriptPath)),
      m_pOutputDlg(outputDlg),
      m_splitBytes(splitBytes),
      m_outputPath(std::move(outputPath)),
      m_decoders(decoders) {
    m_started = StartThread();
    if (!m_started) {
        // Nobody else would tell the window that no build runs.
        PostLog("Error (Project): Failed to start the build thread.\n");
        PostBuildFinished();
    }
}

CProject::CProject(std::string scriptPath, StillSink& stills, bool firstBlockOnly,
                   std::string stillsPath)
    : m_script(std::move(scriptPath)),
      m_pOutputDlg(nullptr),
      m_splitBytes(AVIWriter::kSplitBytes),
      m_outputPath(std::move(stillsPath)),
      m_stills(&stills),
      m_firstBlockOnly(firstBlockOnly) {
    m_started = StartThread();
    if (!m_started) {
        PostLog("Error (Project): Failed to start the build thread.\n");
        PostBuildFinished();
    }
}

CProject::~CProject() {
    Stop();
}

double CProject::NowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool CProject::Process() {
    bool built = false;
    // Whatever ends the build, the window and the command line must hear that it ended.
    try {
        built = Build();
    } catch (const std::bad_alloc&) {
        PostLog("Error (Project): Out of memory.\n");
    } catch (const std::exception& error) {
        PostLog(Format("Error (Project): %s.\n", error.what()));
    }
    m_succeeded = built;
    if (built) {
        PostLog("Done without error.\n");
        if (m_stoppedEarly) {
            PostLog(m_framesWritten == 0
                        ? std::string("Render stopped before its first frame: the previous "
                                      "output is left as it was.\n")
                        : Format("Render stopped before its end: the output holds %u frames.\n",
                                 m_framesWritten));
        }
        PostWrittenFiles();
    } else {
        PostLog("Error (Project): Failed to build project.\n");
    }
    PostBuildFinished();
    return false;
}

bool CProject::Build() {
    const double buildStart = NowSeconds();
    PostProgress(0, 0);
    PostProgress(0, 1);
    PostStatus("");
    PostLog("* Parsing script...\n");

    // Whatever happens, the run's captures and viewports go before the writer.
    struct RunCleanup {
        CProject& project;
        ~RunCleanup() {
            project.m_viewports.clear();
            project.m_overlay.reset();
        }
    } cleanup{*this};

    if (!LoadValidScript(m_script)) {
        return false;
    }
    if (m_script.debug) {
        m_font.Load();  // for the areas' labels
    }
    if (m_stills) {
        m_stills->filesRead = FilesRead(m_script);
        if ((!m_outputPath.empty() &&
             (!CheckWrittenFile(m_script, m_outputPath, WrittenFile::Storyboard) ||
              !CheckOutputFolder(m_outputPath))) ||
            !CheckMedia(m_script, false)) {
            PostLog("Error (Project): Failed to check media.\n");
            return false;
        }
        if (!RenderStills() || (!m_bStop && !m_stills->Finish()) || Cancelled()) {
            return false;
        }
        PostProgress(0, 0);
        return true;
    }
    if (!m_outputPath.empty()) {
        m_script.outputPath = m_outputPath;
    }
    // Every file is looked at before the first one is written.
    if (!CheckMedia(m_script)) {
        PostLog("Error (Project): Failed to check media.\n");
        return false;
    }
    // One render per output at a time; the lock goes after the writer has closed.
    OutputLock lock;
    if (!lock.Acquire(m_script.outputPath, OutputKindOf(m_script.outputPath) == OutputKind::Avi)) {
        return false;
    }
    const std::unique_ptr<FrameWriter> writer = MakeFrameWriter(
        m_script.outputPath, m_script.width, m_script.height, m_script.wavePath, m_splitBytes);
    writer->songStartMs = static_cast<std::uint32_t>(m_script.songStartMs);
    if (!writer->Open()) {
        PostLog(OutputKindOf(m_script.outputPath) == OutputKind::Avi
                    ? "Error (Project): Failed to create AVI Writer.\n"
                    : "Error (Project): Failed to create encoder.\n");
        return false;
    }
    // A failed build still closes what it wrote into valid files, and says which they are.
    struct FailedFinish {
        FrameWriter& writer;
        bool finished = false;
        ~FailedFinish() {
            if (finished) {
                return;
            }
            writer.Close(false);
            std::string files;
            for (const std::string& file : writer.Files()) {
                files += (files.empty() ? "'" : ", '") + file + "'";
            }
            PostContext("Project", files.empty() ? std::string("no output file left")
                                                 : "files left: " + files);
        }
    } failedFinish{*writer};

    if (!StartOverlay()) {
        return false;
    }
    PostProgress(0, 0);

    if (!RenderTimeline(*writer) || Cancelled()) {
        return false;
    }
    m_stoppedEarly = m_bStop.load();
    // The frames this render wrote: a range leaves the song's earlier frames out.
    const std::uint32_t written = m_frameCounter.load() - writer->skippedFrames;
    m_framesWritten = written;

    m_viewports.clear();
    m_overlay.reset();
    // A render stopped before its first frame has nothing to put in place of the previous one.
    const bool publish = !m_stoppedEarly || written != 0;
    const bool closed = writer->Close(publish);
    if (!publish) {
        for (const std::string& file : writer->Files()) {
            std::remove(file.c_str());
        }
    }
    // A failed close leaves the previous output as it was: say where this render's file is.
    failedFinish.finished = closed;
    if (!closed) {
        return false;
    }
    for (const std::string& file : writer->Files()) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        m_writtenFiles.emplace_back(file, error ? 0 : size);
    }
    m_wroteAvi = OutputKindOf(m_script.outputPath) == OutputKind::Avi;
    const double elapsed = NowSeconds() - buildStart;
    const int seconds = static_cast<int>(elapsed);
    const int minutes = seconds / 60;
    PostLog(Format("Done in %f secs [%i min(s) %.2i] for %i frames.\n", elapsed, minutes,
                   seconds - 60 * minutes, static_cast<int>(written)));
    PostProgress(100, 1);
    PostStatus("");
    return true;
}

bool CProject::Cancelled() const {
    if (!m_cancelled) {
        return false;
    }
    PostLog(
        "Error (Project): Render ended by a signal before its end; the previous output is left "
        "as it was.\n");
    return true;
}

namespace {

std::string Size(std::uintmax_t bytes) {
    const double b = static_cast<double>(bytes);
    if (b >= 1024.0 * 1024 * 1024) {
        return Format("%.2f GiB", b / (1024.0 * 1024 * 1024));
    }
    if (b >= 1024.0 * 1024) {
        return Format("%.1f MiB", b / (1024.0 * 1024));
    }
    return Format("%.1f KiB", b / 1024.0);
}

}  // namespace

void CProject::PostWrittenFiles() const {
    // The render names its files: a split AVI is several, and their size surprises.
    std::uintmax_t total = 0;
    for (const auto& [file, bytes] : m_writtenFiles) {
        PostLog(Format("Written: %s (%s).\n", file.c_str(), Size(bytes).c_str()));
        total += bytes;
    }
    if (m_wroteAvi && total > 1000000000u) {
        PostLog(
            Format("Uncompressed AVI takes %s here; an output path ending in .mkv or .mp4 "
                   "writes the same video about 200 times smaller.\n",
                   Size(total).c_str()));
    }
}

bool CProject::StartOverlay(bool wait, std::vector<bool> shown) {
    if (m_script.overlay.inputId.empty()) {
        return true;
    }
    PostLog("* Building overlay frames...\n");
    InputList list;
    if (!m_script.BuildInputList(m_script.overlay.inputId, list) || list.empty()) {
        PostLog("Error (Project): Failed to build input list (overlay).\n");
        return false;
    }
    m_overlayInput = list.front();
    const auto loopFrames = static_cast<std::uint32_t>(m_script.overlay.loopFrames);
    m_overlay = std::make_unique<CFFMPEGCapture>(
        PlanOverlayCapture(Captures(CaptureUse::Render), m_script, m_overlayInput, m_script.width,
                           m_script.height, 0, std::move(shown)));
    if (!m_overlay->Start()) {
        PostLog("Error (Project): Failed to start overlay capture.\n");
        return false;
    }
    PostLog(Format("[Computing %i frames]\n", m_script.overlay.loopFrames));
    for (std::uint32_t i = 0; wait && i < loopFrames;) {
        if (m_overlay->GetBitmap(i)) {
            PostProgress(static_cast<int>((i + 1) * 100 / loopFrames), 0);
            ++i;
        }
        if (m_overlay->m_bFailed) {
            PostLog("Error (Project): Failed to capture overlay source video frames.\n");
            return false;
        }
        if (m_bStop) {
            break;  // closing the window while the overlay decodes
        }
    }
    return true;
}

}  // namespace zorvo
