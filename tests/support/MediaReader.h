#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvo::test {

struct MediaStream {
    std::string codec;  // libavcodec's name, e.g. "rawvideo", "pcm_s16le"
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
};

// A media file (or a picture) decoded by libavformat and libavcodec, whatever its container and
// codecs: the first video and the first audio stream.
struct MediaContents {
    std::vector<MediaStream> streams;  // all of them, in file order
    MediaStream video;                 // the ones decoded below
    MediaStream audio;
    int rateNum = 0;  // the video stream's average frame rate
    int rateDen = 0;
    std::string colorSpace;  // as libavutil names it, e.g. "smpte170m", "bt709"
    std::string colorRange;  // "tv" or "pc"
    // Decoded pictures in display order, converted with their own colour matrix and range;
    // rows from the top down, 3 x width bytes of blue, green, red.
    std::vector<std::vector<std::uint8_t>> pictures;
    // Presentation time of each picture in seconds.
    std::vector<double> pictureTimes;
    // Decoded audio, interleaved, as 16-bit samples (float audio rounded), primers dropped as
    // the container says.
    std::vector<std::int16_t> samples;
    double audioStart = 0;  // of the first decoded sample, in seconds
    // The audio packets' payload as stored, in file order.
    std::vector<std::uint8_t> audioBytes;
    // How far in time an audio packet lies, at most, from the video packet stored before it:
    // a file that stores the sound apart from its pictures shows it.
    double audioApart = 0;
};

// False with a reason when the file cannot be opened or a packet cannot be decoded.
// `referencedOnly` leaves out the pictures no other picture refers to.
bool ReadMedia(const std::string& path, MediaContents& contents, std::string& error,
               bool referencedOnly = false);

// Peak signal-to-noise ratio in dB of two pictures of the same size (infinite when equal).
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace zorvo::test
