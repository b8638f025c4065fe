#pragma once

#include <memory>
#include <string>

#include "common/FfmpegFree.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace zorvo::test {

// FFmpeg objects the test media code makes and reads, freed as the program frees them. A format
// context here is an opened input; a muxer is an OwnedOutput.
template <typename T>
using Owned = std::unique_ptr<T, FfmpegFree>;

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
