#pragma once

#include <memory>
#include <string>

#include "common/FfmpegFree.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

struct AVFilterGraph;
struct AVFilterContext;

namespace zorvo {

// What the decoded pictures of a stream that needs it go through before they are scaled,
// as one libavfilter graph: the motion-adaptive deinterlacer (bwdif, one picture a frame, so
// each picture comes out once the next one is in) and the tone map of HLG and PQ to BT.709 SDR.
class PictureFilter {
  public:
    enum class Result { Picture, NeedMore, End, Failed };

    // `description` is the graph between the decoder and the scaler (see below); time base and
    // frame rate are the stream's; `threads` the graph's slice threads (0: one a core).
    PictureFilter(std::string description, AVRational timeBase, AVRational frameRate, int threads);
    ~PictureFilter();
    PictureFilter(const PictureFilter&) = delete;
    PictureFilter& operator=(const PictureFilter&) = delete;

    // The graph for a stream: bwdif when `deinterlace` (every frame with `allFrames`, else those
    // flagged interlaced; `topFirst` 1, 0 or -1 when the stream does not say), then the tone map
    // of a picture in the libavutil transfer, matrix, primaries and range given when the
    // transfer is HLG or PQ. Empty when nothing is needed.
    static std::string Describe(bool deinterlace, bool allFrames, int topFirst, int transfer,
                                int matrix, int primaries, bool fullRange);

    // Hands a decoded picture over, its time in `best_effort_timestamp` (the picture is taken
    // and left empty); null: the stream has ended. The graph is made for the first picture
    // after construction or Reset. False, with a reason, when the library refuses.
    bool Push(AVFrame* picture);
    // The next picture out of the graph, its time in the stream's time base as its
    // `best_effort_timestamp`.
    Result Take(AVFrame* out);
    // Forgets every picture in the graph (after a seek).
    void Reset();
    const std::string& Reason() const { return m_reason; }

  private:
    bool Build(const AVFrame& first);

    struct GraphFree {
        void operator()(AVFilterGraph* graph) const;
    };
    const std::string m_description;
    const AVRational m_timeBase;
    const AVRational m_frameRate;
    const int m_threads;
    std::unique_ptr<AVFilterGraph, GraphFree> m_graph;
    AVFilterContext* m_source = nullptr;
    AVFilterContext* m_sink = nullptr;
    bool m_ended = false;  // the end was handed over
    std::string m_reason;
};

}  // namespace zorvo
