#pragma once

#include <cstdint>
#include <string>

#include "media/Orientation.h"
#include "media/PictureColour.h"

struct AVFormatContext;
struct AVStream;

namespace zorvo {

// What the headers of a video file tell without decoding a picture.
struct VideoFacts {
    int rateNum = 0;  // frames per second as rateNum / rateDen, the rate the capture counts by
    int rateDen = 1;
    std::int64_t frameCount = -1;  // source frames the file holds; -1 when unknown
    double durationMs = -1;        // length of its first video stream; -1 when unknown
    int width = 0;                 // size of the upright picture; 0 when unknown
    int height = 0;
    int storedWidth = 0;  // size as stored, before the display matrix turns it
    int storedHeight = 0;
    Orientation orientation;  // the display matrix's turn
    int pixelFormat = -1;     // the decoder's picture format (the library's code); -1 when unknown
    std::string codec;        // the codec's short name: "h264"
    // The pictures do not keep to one frame rate (a phone's variable rate, or frames left out):
    // rateNum / rateDen is then no rate to show.
    bool variableRate = false;
    double shownRate = 0;     // frames a second, as a player names them
    PictureColour colour;     // how its pictures turn into RGB
    bool interlaced = false;  // the stream says its fields are interlaced
};

enum class ProbeStatus { Ok, OpenFailed, NoStreamInfo, NoVideoStream, NoDecoder, NoFrameRate };

// Reads the headers of `path` the way a capture would open it: stream information, the first
// video stream, a decoder for its codec, its frame rate and its length (the stream's duration,
// or else the time of its last packet). `reason` receives the library's or the system's own
// words for a failure. Posts nothing.
ProbeStatus ProbeVideo(const std::string& path, VideoFacts& facts, std::string& reason);

// The rate a stream's source frames are counted by. A stream whose picture times do not keep to
// the rate it names (a phone's variable frame rate) is counted in milliseconds, each picture from
// the first millisecond at or after its time (`variable`): frame k is then the picture a
// player shows k ms after the first one. Looks at the file's index where it lists every picture,
// else at the first packets, read and not decoded, after which the file is back at its start.
// Zero rate when the stream names none.
struct FrameCounting {
    int num = 0;
    int den = 1;
    bool variable = false;
};
FrameCounting CountingRate(AVFormatContext& format, AVStream& stream);

// How the stream's display matrix turns its pictures (none when it has none).
Orientation StreamOrientation(const AVStream& stream);

// The library's own messages are dropped: a stream with a deprecated pixel format would warn for
// every picture, and its error lines ("[matroska,webm @ 0x…] File ended prematurely") come
// beside our own, which say what failed in the log's words. Safe to call any number of times.
void QuietLibraryLog();

// The library's text for one of its error codes.
std::string LibraryErrorText(int error);

}  // namespace zorvo
