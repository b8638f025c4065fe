#include "capture/PictureFilter.h"

#include "common/LogChannel.h"
#include "media/VideoProbe.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixfmt.h>
}

namespace zorvo {

void PictureFilter::GraphFree::operator()(AVFilterGraph* graph) const {
    avfilter_graph_free(&graph);
}

PictureFilter::PictureFilter(std::string description, AVRational timeBase, AVRational frameRate,
                             int threads)
    : m_description(std::move(description)),
      m_timeBase(timeBase),
      m_frameRate(frameRate),
      m_threads(threads) {}

PictureFilter::~PictureFilter() = default;

std::string PictureFilter::Describe(bool deinterlace, bool allFrames, int topFirst, int transfer,
                                    int matrix, int primaries, bool fullRange) {
    std::string graph;
    if (deinterlace) {
        graph = Format("bwdif=mode=send_frame:parity=%s:deint=%s",
                       topFirst < 0    ? "auto"
                       : topFirst == 1 ? "tff"
                                       : "bff",
                       allFrames ? "all" : "interlaced");
    }
    if (transfer == AVCOL_TRC_ARIB_STD_B67 || transfer == AVCOL_TRC_SMPTE2084) {
        // The reference white of HDR (203 cd/m², BT.2408) becomes SDR white, what lies above
        // it is rolled off smoothly instead of clipped, and colours below are kept. A stream
        // that does not name its matrix or primaries is BT.2020, as HDR always is.
        const int m = matrix == AVCOL_SPC_UNSPECIFIED ? AVCOL_SPC_BT2020_NCL : matrix;
        const int p = primaries == AVCOL_PRI_UNSPECIFIED ? AVCOL_PRI_BT2020 : primaries;
        graph += Format(
            "%szscale=tin=%d:min=%d:pin=%d:rin=%d:t=linear:npl=203,format=gbrpf32le,"
            "zscale=p=bt709,tonemap=tonemap=mobius:param=0.5:desat=0,"
            "zscale=t=bt709:m=bt709:r=full,format=gbrp",
            graph.empty() ? "" : ",", transfer, m, p, fullRange ? 1 : 0);
    }
    return graph;
}

bool PictureFilter::Build(const AVFrame& first) {
    m_graph.reset(avfilter_graph_alloc());
    if (!m_graph) {
        m_reason = "out of memory";
        return false;
    }
    m_graph->nb_threads = m_threads;
    const AVRational aspect =
        first.sample_aspect_ratio.num > 0 ? first.sample_aspect_ratio : AVRational{1, 1};
    const std::string source =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", first.width,
               first.height, first.format, m_timeBase.num, m_timeBase.den, aspect.num, aspect.den) +
        (m_frameRate.num > 0 ? Format(":frame_rate=%d/%d", m_frameRate.num, m_frameRate.den) : "");
    int result = avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in",
                                              source.c_str(), nullptr, m_graph.get());
    if (result >= 0) {
        result = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, m_graph.get());
    }
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (result >= 0 && (!outputs || !inputs)) {
        result = AVERROR(ENOMEM);
    }
    if (result >= 0) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = m_source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = m_sink;
        result = avfilter_graph_parse_ptr(m_graph.get(), m_description.c_str(), &inputs, &outputs,
                                          nullptr);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (result >= 0) {
        result = avfilter_graph_config(m_graph.get(), nullptr);
    }
    if (result < 0) {
        m_reason =
            "cannot filter the pictures (" + m_description + "): " + LibraryErrorText(result);
        m_graph.reset();
        return false;
    }
    return true;
}

bool PictureFilter::Push(AVFrame* picture) {
    if (!picture) {
        m_ended = true;
        return !m_graph || av_buffersrc_add_frame(m_source, nullptr) >= 0;
    }
    if (!m_graph && !Build(*picture)) {
        return false;
    }
    picture->pts = picture->best_effort_timestamp;
    const int result = av_buffersrc_add_frame(m_source, picture);
    if (result < 0) {
        m_reason = LibraryErrorText(result);
        return false;
    }
    return true;
}

PictureFilter::Result PictureFilter::Take(AVFrame* out) {
    if (!m_graph) {
        return m_ended ? Result::End : Result::NeedMore;
    }
    const int result = av_buffersink_get_frame(m_sink, out);
    if (result == AVERROR(EAGAIN)) {
        return Result::NeedMore;
    }
    if (result == AVERROR_EOF) {
        return Result::End;
    }
    if (result < 0) {
        m_reason = LibraryErrorText(result);
        return Result::Failed;
    }
    // The deinterlacer counts in half its input's time base.
    out->best_effort_timestamp =
        out->pts == AV_NOPTS_VALUE
            ? AV_NOPTS_VALUE
            : av_rescale_q(out->pts, av_buffersink_get_time_base(m_sink), m_timeBase);
    out->pts = out->best_effort_timestamp;
    return Result::Picture;
}

void PictureFilter::Reset() {
    m_graph.reset();
    m_source = nullptr;
    m_sink = nullptr;
    m_ended = false;
}

}  // namespace zorvo
