#include "support/Owned.h"

namespace zorvo::test {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int EncodeAndWrite(AVCodecContext* encoder, AVFormatContext* output, AVStream* stream,
                   const AVFrame* frame, AVPacket* packet) {
    int result = avcodec_send_frame(encoder, frame);
    while (result >= 0) {
        result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return 0;
        }
        if (result >= 0) {
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(output, packet);
        }
    }
    return result;
}

}  // namespace zorvo::test
