// Whole frames to pictures, for every reader of movies (verify, decode,
// inspect, the players): the header facts, the checks with the reason for
// each refusal, the texture, the RGBA picture spread over the worker pool
// for large frames, and a pipeline that builds one frame's picture while the
// next frame's texture is restored.
//
// One rule for refusals, the same for every caller. A frame is refused, with
// its reason, when it is malformed, holds a type that has no picture here
// (6, 7), when its header and length disagree, or when it was made for a
// picture of a larger texture than the stream's. Frames do not carry their
// picture size: the stream gives it, and a frame's texture is exactly the
// stream's texture. A raw payload must be the texture to the byte and a
// version-3 payload may not overflow it, so a packed payload must likewise be
// used to its last byte (the writer's always are); bytes left over mean a
// frame of a larger picture, or damage that looks like one, and taking its
// first part would show a picture cut out of another. (Sizes that pad to the
// same multiples of 16 share one texture and cannot be told apart.) Nothing
// here throws: want of memory, or an exception in work on the pool, refuses
// the frame like any damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/zemo3.h"
#include "core/threads.h"
#include "reader/frame_decoder.h"

namespace nox {

// Whether pictures of this size can be read: 1 to kMaxPictureSide each way.
bool pictureSizeAccepted(uint32_t width, uint32_t height);

// Restores Zemo 3 frames of one picture size to RGBA, one frame at a time.
class FramePictures {
public:
    // Pictures of fewer rows are rebuilt on one thread: below that, handing
    // bands to the pool costs more than it saves.
    static constexpr uint32_t kBandedRows = 256;

    FramePictures(uint32_t width, uint32_t height) : width_(width), height_(height) {}

    // Header facts of a frame, readable without decoding it (readFrameFacts).
    using Header = FrameFacts;
    // False when the frame is too short to hold its header.
    static bool readHeader(const uint8_t* frame, size_t size, Header* header);

    // With more than one thread a YCoCg frame's two streams are restored at
    // once (the second on the process-wide worker pool), and the RGBA
    // rebuild of pictures of at least minimumRows rows is spread over up to
    // `threads` threads of the pool, in bands of whole 8-row tiles (1: the
    // calling thread only, the default). Results are the same either way.
    void setThreads(unsigned threads, uint32_t minimumRows = kBandedRows);
    unsigned threads() const { return threads_; }

    // Decodes one frame into rgba (width*height*4 bytes, rows width*4 apart,
    // A = 255 for types without alpha). False with the reason when the frame
    // is refused (see above).
    bool decode(const uint8_t* frame, size_t size, std::vector<uint8_t>* rgba, Header* header, std::string* why);
    // The same into a caller's picture with rows `stride` bytes apart.
    bool decode(const uint8_t* frame, size_t size, uint8_t* rgba, size_t stride, Header* header, std::string* why);

    // decode() in its two steps, for callers that overlap them or need only
    // the texture: unpack() checks the frame and restores its texture in one
    // pass over the payload, rebuild() turns the last texture unpack()
    // accepted into the picture. header, when given, is filled whenever the
    // frame holds one.
    bool unpack(const uint8_t* frame, size_t size, Header* header, std::string* why);
    bool rebuild(uint8_t* rgba, size_t stride, std::string* why);
    // unpack() into the caller's memory (capacity bytes; the frame is
    // refused when its texture does not fit), for a player that restores
    // straight into the memory it uploads from. rebuild() and texture() do
    // not see it; type() does.
    bool unpackInto(const uint8_t* frame, size_t size, uint8_t* texture, size_t capacity, Header* header,
                    std::string* why);
    // The texture and format type of the last frame unpack() accepted.
    const std::vector<uint8_t>& texture() const { return texture_; }
    uint32_t type() const { return type_; }

private:
    // Into `texture` when given, else into texture_.
    bool unpackFrame(const uint8_t* frame, size_t size, uint8_t* texture, size_t capacity, Header* header,
                     std::string* why);
    bool rebuildRows(uint8_t* rgba, size_t stride);

    uint32_t width_, height_;
    uint32_t type_ = 0;
    unsigned threads_ = 1;
    uint32_t minimumRows_ = kBandedRows;
    std::vector<uint8_t> texture_;
};

// Where a PicturePipeline's pictures go. Every call comes from the thread
// that drives the pipeline, never from the pool.
class PictureSink {
public:
    virtual ~PictureSink() = default;

    // A picture to write into: rows of width*4 bytes `stride` apart, RGBA,
    // opaque (A = 255) for the format types that keep no alpha.
    struct Target {
        void* handle = nullptr;  // the sink's; null: no picture to be had
        uint8_t* rgba = nullptr;
        size_t stride = 0;
    };
    // A picture for a frame of format type `type` (typeHasAlpha tells
    // whether it keeps alpha) stamped with the stamp given to push(). A null
    // handle drops the frame without a refusal: the sink says why itself.
    virtual Target picture(uint32_t type, int64_t stamp) = 0;
    // The picture is complete and belongs to the sink again.
    virtual void show(void* handle) = 0;
    // The picture will not be shown: a flush, or the pipeline's end.
    virtual void release(void* handle) = 0;
    // Frame `number` (counted from 1 over the pipeline's life), pushed with
    // `stamp`, is refused for the reason given. handle is its picture when
    // it had one (its rebuild failed), which belongs to the sink again; null
    // when the frame was refused before it had one.
    virtual void refused(uint64_t number, int64_t stamp, const std::string& why, void* handle) = 0;
};

// Frames of one stream to pictures, in order. With one thread a frame's
// picture is built and handed on before push() returns. With more, the
// picture is built on the worker pool (in bands when it is large) while the
// caller's thread restores the next frame's texture, so pictures leave one
// frame late: drain() hands on the last one, flush() drops it.
class PicturePipeline {
public:
    // Frames of a width x height stream (pictureSizeAccepted() first).
    // threads: 1 does everything on the calling thread.
    PicturePipeline(uint32_t width, uint32_t height, unsigned threads, PictureSink& sink);
    // Releases the picture being built, unseen.
    ~PicturePipeline();
    PicturePipeline(const PicturePipeline&) = delete;
    PicturePipeline& operator=(const PicturePipeline&) = delete;

    // One whole frame (the bytes are not kept after the call).
    void push(const uint8_t* frame, size_t size, int64_t stamp);
    // The end of the stream: the picture being built is handed on.
    void drain() { complete(true); }
    // A seek: the picture being built is released unseen.
    void flush() { complete(false); }

    uint64_t frames() const { return frames_; }
    uint64_t refusals() const { return refusals_; }

private:
    void complete(bool keep);
    void refuse(uint64_t number, int64_t stamp, const std::string& why, void* handle);

    PictureSink& sink_;
    unsigned threads_;
    // Two, taken in turn: one builds a picture while the other unpacks the
    // next frame.
    FramePictures slots_[2];
    unsigned next_ = 0;  // the slot the next frame unpacks into
    // The picture being built.
    void* handle_ = nullptr;  // null: none
    uint64_t number_ = 0;
    int64_t stamp_ = 0;
    bool ok_ = false;  // written by the task, read after it is done
    std::string why_;  // likewise
    TaskHandle task_;
    uint64_t frames_ = 0, refusals_ = 0;
};

}  // namespace nox
