#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "capture/PictureFilter.h"
#include "common/FfmpegFree.h"
#include "media/Orientation.h"
#include "script/Input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace zorvo {

// The first video stream of one file, decoded in presentation order. Source frames are
// identified by their presentation timestamps: frame k is the one shown k frame durations after
// the stream's first picture, whatever order the packets come in and however late the decoder
// delivers. Used by one thread at a time: a capture's, or the pool's while it lies idle there.
class VideoDecoder {
  public:
    enum class Result {
        Ready,      // a picture for the target is current
        EndOfFile,  // the file ended before the target
        Failed,     // the decoder refused a packet ("Failed to decode video" posted)
        Stopped,    // a stop was requested while reading
    };

    // Pictures this close to the one asked for are decoded whole, so that the picture before it
    // (which the pool's next capture may step back to) and the one a gap leaves showing are real.
    static constexpr std::int64_t kWholeBefore = 8;

    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens the file, finds its first video stream and opens a decoder for it, with the
    // library's frame and slice threads. Posts the capture's line for the step that failed.
    // `libraryThreads` false decodes on the caller's thread alone: fewer picture buffers to
    // allocate, for a preview that wants a few pictures soon from each of many decoders.
    // `quiet` posts nothing: for a look at the file's index by one who does not decode.
    bool Open(const std::string& path, bool libraryThreads = true, bool quiet = false);
    const std::string& Path() const { return m_path; }
    // The decoded picture; posts "Failed to allocate frame" when it cannot be had.
    bool AllocatePictures();

    // The stored picture's size.
    int Width() const;
    int Height() const;
    // How the file says its pictures are to be turned (its display matrix).
    Orientation FileOrientation() const { return m_orientation; }
    // Whether pictures are deinterlaced (`Auto`: when the stream says its fields are
    // interlaced, or its first picture is flagged so); set before the first picture. HLG and
    // PQ pictures are tone-mapped to SDR whatever it says.
    void SetDeinterlace(DeinterlaceMode mode) { m_deinterlace = mode; }
    DeinterlaceMode Deinterlace() const { return m_deinterlace; }
    // Source frames per second as num / den (both positive once open): the stream's rate, or
    // 1000 for a stream whose pictures keep no rate (see CountingRate).
    AVRational FrameRate() const { return m_frameRate; }
    bool VariableRate() const { return m_variableRate; }
    // The decoder's minimum distance between key frames (the library's default is 25).
    int MinKeyFrameInterval() const;
    // About what the decoder's pictures take while it is open: the reference pictures, one
    // more for each of its threads, and the three it keeps.
    std::size_t PictureBytes() const;
    // The source frame shown `ms` milliseconds after the first one.
    std::int64_t FrameAt(std::int64_t ms) const;
    // The source frame that output frame n (at 25 per second) of a segment starting at
    // `startMs` shows: FrameAt(startMs) + floor(n x fps / 25).
    std::int64_t SegmentFrame(std::int64_t startMs, std::int64_t n) const;

    // Moves the read position to a key frame at or before source frame `frame`. False (and
    // the position unchanged) when the file cannot seek there.
    bool SeekBefore(std::int64_t frame);
    // The latest key frame at or before source frame `frame` that the file's index lists, or
    // -1 when the index does not say (no index, or none listed before it). Counted by the key
    // picture's own place in presentation order, also where the index lists decoding times.
    std::int64_t KeyFrameAtOrBefore(std::int64_t frame) const;

    // Makes current the latest source frame at or before `target`, reading and decoding as far
    // as needed; frames before it are passed over, and those well before it that no other
    // picture refers to are not even decoded. When the source has no frame `target` (a
    // gap), the frame before it stays current; when it has nothing before it, the first later
    // frame becomes current. `changed` tells whether another picture became current during
    // this call, also when the result is not Ready.
    Result PictureFor(std::int64_t target, const std::atomic<bool>& stop, bool& changed);

    // The earliest source frame PictureFor can still make current without a seek: the one
    // before the current picture when it is kept, else the current one; -1 before any picture.
    std::int64_t EarliestIndex() const;
    // Steps back to the kept picture before the current one when `target` lies before the
    // current picture; the next PictureFor then goes on from there. False when it cannot.
    bool StepBackFor(std::int64_t target);
    // The file has ended: no later picture will come.
    bool AtEnd() const { return m_atEnd; }
    // Decodes every picture from now on, also those it could pass over.
    void DecodeEveryPicture() { m_mayPassOver = false; }
    // The caller will ask for what output frames first .. end - 1 of a segment starting at
    // `startMs` show (see SegmentFrame): a picture between the first and the last of those
    // source frames that none of them shows and no other picture refers to is not decoded
    // (at 30000/1001 frames per second one in six is not shown). Past the last one every
    // picture is decoded, for whoever takes the decoder next. end <= first: every one is.
    void ShowSegment(std::int64_t startMs, std::int64_t first, std::int64_t end);
    // How many pictures before the one asked for are decoded whole (kWholeBefore unless told
    // otherwise): 0 when only that picture is wanted.
    void DecodeWholeBefore(std::int64_t pictures) { m_wholeBefore = pictures; }
    // Every picture the decoder delivers from now on adds one to `counter` (may be null).
    void CountPicturesInto(std::atomic<std::uint64_t>* counter) { m_pictureCounter = counter; }
    // PictureBytes counts in `counter` (may be null) until the decoder is destroyed or counted
    // elsewhere, so that a pool can bound what all the open decoders of a build hold.
    void CountBytesInto(std::atomic<std::size_t>* counter);

    // The current picture, or null before the first one.
    const AVFrame* Current() const { return m_hasCurrent ? m_current.get() : nullptr; }
    std::int64_t CurrentIndex() const { return m_currentIndex; }
    // The library's words for the last failure of Open or of decoding.
    const std::string& Reason() const { return m_reason; }

  private:
    using FramePtr = std::unique_ptr<AVFrame, FfmpegFree>;

    enum class Receive { Picture, EndOfFile, Failed, Stopped };
    Receive ReceiveNext(const std::atomic<bool>& stop);
    std::int64_t IndexOf(const AVFrame& frame);
    std::int64_t PacketIndex(const AVPacket& packet) const;
    AVRounding IndexRounding() const;
    // Whether `index` lies inside the shown stretch but no frame of the segment shows it.
    bool Unshown(std::int64_t index) const;
    // Clears what a seek or a picture passed over makes doubtful.
    void ForgetPassedOver();
    bool SeekToTimestamp(std::int64_t timestamp);
    // Puts the filter the first picture asks for in place (none when it asks for none).
    bool OpenFilter(const AVFrame& first);

    std::unique_ptr<AVFormatContext, FfmpegFree> m_format;
    std::unique_ptr<AVCodecContext, FfmpegFree> m_codec;
    std::unique_ptr<AVPacket, FfmpegFree> m_packet;
    std::string m_path;
    std::atomic<std::uint64_t>* m_pictureCounter = nullptr;
    std::atomic<std::size_t>* m_bytesCounter = nullptr;
    std::size_t m_countedBytes = 0;
    FramePtr m_previous;  // the picture that was current before m_current, kept for StepBackFor
    FramePtr m_current;
    FramePtr m_next;  // decoded, not yet current: shows a later frame than the target
    AVStream* m_stream = nullptr;
    AVRational m_frameRate{0, 1};
    AVRational m_namedRate{0, 1};  // the rate the stream names
    bool m_variableRate = false;
    Orientation m_orientation;
    std::int64_t m_origin = 0;  // timestamp of source frame 0
    // How far a key picture's index entry lies before its presentation time: MP4 lists
    // decoding times, which B-frames put ahead of the pictures.
    std::int64_t m_indexLead = 0;
    bool m_hasPrevious = false;
    bool m_hasCurrent = false;
    bool m_hasNext = false;
    std::int64_t m_previousIndex = -1;
    std::int64_t m_currentIndex = -1;
    std::int64_t m_nextIndex = -1;
    std::int64_t m_lastIndex = -1;  // index of the last decoded frame, for frames without time
    bool m_lastIndexKnown = true;
    bool m_draining = false;
    bool m_atEnd = false;
    bool m_checkSeek = false;  // the first frame after a seek must not lie past the target
    // Packets of pictures before this index are decoded without their unreferenced pictures.
    std::int64_t m_skipBelow = std::numeric_limits<std::int64_t>::min();
    // The highest picture index sent while unreferenced pictures were left out (-1: none), and
    // the key frame the last seek landed on: no kept picture before either can be trusted to be
    // the one before the current picture.
    std::int64_t m_lastSkipped = -1;
    std::int64_t m_seekFloor = -1;
    bool m_mayPassOver = true;  // false once a picture came without time: counting needs them all
    // The stretch of ShowSegment: segment frame n shows m_segmentStart + floor(n x fps / 25),
    // the first and last shown being m_shownFirst and m_shownLast (none when first > last).
    std::int64_t m_segmentStart = 0;
    std::int64_t m_shownFirst = 0;
    std::int64_t m_shownLast = -1;
    // False once a picture left out of a stretch was the one a target needed (the source's
    // frames have gaps, so its index does not tell what is shown): stretches are decoded whole.
    bool m_passUnshown = true;
    std::int64_t m_wholeBefore = kWholeBefore;
    DeinterlaceMode m_deinterlace = DeinterlaceMode::Auto;
    std::unique_ptr<PictureFilter> m_filter;
    bool m_filterChosen = false;  // the first picture has decided on the filter
    bool m_filterEnded = false;   // the end of the stream was handed to the filter
    std::string m_reason;
};

}  // namespace zorvo
