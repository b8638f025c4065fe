#include "output/FrameWriter.h"

#include <algorithm>
#include <cctype>

#include "common/LogChannel.h"
#include "common/PathName.h"
#include "output/AVIWriter.h"
#include "output/AVIWriterThread.h"
#include "output/EncodedWriter.h"

namespace zorvo {

bool FrameWriter::InOrder(std::uint32_t frameNumber, std::uint64_t stored,
                          const char* component) const {
    if (std::uint64_t{frameNumber} == std::uint64_t{skippedFrames} + stored) {
        return true;
    }
    PostLog(Format("Error (%s): Failed to insert frame: Frame is out of order.\n", component));
    return false;
}

OutputKind OutputKindOf(const std::string& path) {
    std::string extension = Extension(path);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".mkv") {
        return OutputKind::Matroska;
    }
    if (extension == ".mp4") {
        return OutputKind::Mp4;
    }
    if (extension == ".mov") {
        return OutputKind::Mov;
    }
    return OutputKind::Avi;
}

std::unique_ptr<FrameWriter> MakeFrameWriter(const std::string& path, std::int32_t width,
                                             std::int32_t height, const std::string& wavePath,
                                             std::uint64_t splitBytes) {
    const OutputKind kind = OutputKindOf(path);
    if (kind == OutputKind::Avi) {
        auto file = std::make_unique<AVIWriter>(path, width, height, wavePath);
        file->SetSplitBytes(splitBytes);
        return std::make_unique<AVIWriterThread>(std::move(file));
    }
    return std::make_unique<EncodedWriter>(path, width, height, wavePath, kind);
}

}  // namespace zorvo
