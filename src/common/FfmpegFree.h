#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace zorvo {

// Frees what the FFmpeg libraries allocate, for std::unique_ptr. A format context is an input's:
// it is closed with its file.
struct FfmpegFree {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(SwsContext* s) const { sws_freeContext(s); }
    void operator()(SwrContext* s) const { swr_free(&s); }
};

}  // namespace zorvo
