#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace zorvo::test {

// FFmpeg objects the test media code makes and reads, freed by their own functions. A format
// context here is an opened input; a muxer is an OwnedOutput.
struct Freer {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer>;

// Closes the muxer's file (when one was opened) and frees the muxer.
struct OutputFreer {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&f->pb);
        }
        avformat_free_context(f);
    }
};
using OwnedOutput = std::unique_ptr<AVFormatContext, OutputFreer>;

std::string ErrorText(int code);

// Sends one frame (null: the end) to the encoder and writes every packet it gives back.
// Returns FFmpeg's negative error code on failure, 0 otherwise.
int EncodeAndWrite(AVCodecContext* encoder, AVFormatContext* output, AVStream* stream,
                   const AVFrame* frame, AVPacket* packet);

}  // namespace zorvo::test
