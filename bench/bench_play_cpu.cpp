// bench_play_cpu: what a GPU player spends on the CPU per frame to have a
// frame's texture ready for the upload, ours against HAP, on the same pictures.
//
// Ours: the playback library restores every frame of a Zemo 3 movie into one
// destination of zemo3_frame_bytes bytes, allocated once as a mapped
// pixel-buffer object would be (zemo3_next_frame_into), on one thread
// (zemo3_set_threads 1); for the YCoCg types (2 and 3) also with the frame's
// two streams restored at once (zemo3_set_threads 2).
// HAP: libavformat reads every packet (av_read_frame), and the texture is
// taken out of it as a HAP player does it: the section header read, then
// snappy_uncompress into one destination allocated once, or memcpy where the
// encoder stored the texture uncompressed. Frames stored in chunks (a complex
// section) are not asked for, and are reported as unsupported.
// High-alpha is also timed against HAP Q Alpha (hap_q has no alpha), whose
// frames the bench puts together from FFmpeg's (see hapQAlphaFrames): the
// same reading, and Snappy for each of its two textures.
// Nothing is uploaded or drawn: those costs are the driver's on both sides.
//
// For each size, content and format type the two movies are made first, of
// the same pictures, in a temporary folder that goes at the end: ours through
// the module in the emulated host (30 fps, no sound), HAP's with FFmpeg's
// encoder (0 hap, 1 hap_alpha, 2 and 3 hap_q; Snappy, one chunk) muxed into a
// QuickTime file. Both files are read through once before anything is timed,
// so that they are in the page cache. Each run opens the movie anew (not
// timed) and reads it through; a figure is the best of REPEAT runs over the
// whole clip, in milliseconds per frame, a row's runs of ours and of HAP's
// taken in turn. A markdown table ends the output.
//
// Settings, from the environment:
//   SIZES     WxH, separated by commas or spaces (default "1920x1080 3840x2160")
//   CONTENTS  demo (the demo composition: motion graphics) or a test content
//             of content/ (default "photo demo screen")
//   TYPES     format types 0 to 3 (default "0 1 2 3")
//   FRAMES    frames a clip (default 60 up to 1920x1080, 30 above)
//   REPEAT    runs a figure, the best taken (default 3)
// Google Benchmark's own flags work too (--benchmark_filter=hap/,
// --benchmark_format=json ...); a benchmark's time is per frame.
//
//   make bench-play-cpu
//   SIZES=1920x1080 CONTENTS=screen TYPES=2 FRAMES=4 REPEAT=1 build/bench/bench_play_cpu
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <snappy-c.h>
}

#include "bench/harness.h"
#include "codec/frame_format.h"
#include "content/content.h"
#include "core/simd.h"
#include "emulated_host/render.h"
#include "media/sources.h"
#include "platform/platform.h"
#include "zemo3/playback.h"

namespace {

using zemo3::bench::Clip;

constexpr int kFps = 30;

// ------------------------------------------------------------- settings

struct Size {
    uint32_t width = 0, height = 0;
    std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

struct Settings {
    std::vector<Size> sizes{{1920, 1080}, {3840, 2160}};
    std::vector<std::string> contents{"photo", "demo", "screen"};
    std::vector<uint32_t> types{0, 1, 2, 3};
    uint64_t frames = 0;  // 0: by size
    int repeat = 3;

    uint64_t framesAt(const Size& s) const
    {
        return frames ? frames : uint64_t(s.width) * s.height <= 1920u * 1080u ? 60 : 30;
    }
};

std::vector<std::string> words(const std::string& text)
{
    std::string spaced = text;
    std::replace(spaced.begin(), spaced.end(), ',', ' ');
    std::istringstream in(spaced);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

bool number(const std::string& text, uint64_t most, uint64_t* value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoull(text);
    return *value <= most;
}

// The settings from the environment, or false with *error saying which does not do.
bool readSettings(Settings* s, std::string* error)
{
    auto value = [](const char* name) { return platform::environmentValue(name).value_or(""); };
    if (const std::string sizes = value("SIZES"); !sizes.empty()) {
        s->sizes.clear();
        for (const std::string& w : words(sizes)) {
            const size_t x = w.find('x');
            uint64_t width = 0, height = 0;
            if (x == std::string::npos || !number(w.substr(0, x), 16384, &width) ||
                !number(w.substr(x + 1), 16384, &height) || width == 0 || height == 0) {
                *error = "SIZES: '" + w + "' is no size such as 1920x1080";
                return false;
            }
            s->sizes.push_back({uint32_t(width), uint32_t(height)});
        }
    }
    if (const std::string contents = value("CONTENTS"); !contents.empty()) {
        s->contents = words(contents);
        for (const std::string& c : s->contents)
            if (c != "demo" && !zemo3::content::isContentName(c)) {
                *error = "CONTENTS: '" + c + "' is neither demo nor a test content";
                return false;
            }
    }
    if (const std::string types = value("TYPES"); !types.empty()) {
        s->types.clear();
        for (const std::string& t : words(types)) {
            uint64_t type = 0;
            if (!number(t, 3, &type)) {
                *error = "TYPES: '" + t + "' is no format type (0 to 3)";
                return false;
            }
            s->types.push_back(uint32_t(type));
        }
    }
    if (const std::string frames = value("FRAMES");
        !frames.empty() && (!number(frames, 100000, &s->frames) || s->frames == 0)) {
        *error = "FRAMES must be a number from 1 to 100000";
        return false;
    }
    uint64_t repeat = 0;
    if (const std::string r = value("REPEAT"); !r.empty()) {
        if (!number(r, 1000, &repeat) || repeat == 0) {
            *error = "REPEAT must be a number from 1 to 1000";
            return false;
        }
        s->repeat = int(repeat);
    }
    if (s->sizes.empty() || s->contents.empty() || s->types.empty()) {
        *error = "SIZES, CONTENTS and TYPES must name something";
        return false;
    }
    return true;
}

// --------------------------------------------------------------- movies

// The clip as the host renders it for the module: ARGB, from frame 0.
bool makePictures(const std::string& content, const Size& size, uint64_t frames, Clip* argb, std::string* error)
{
    argb->clear();
    if (content == "demo") {
        const zemo3::Composition c =
            zemo3::demoComposition(size.width, size.height, kFps, 1, double(frames) / kFps, false);
        for (uint64_t n = 0; n < frames; ++n) {
            argb->emplace_back(size_t(size.width) * size.height * 4);
            zemo3::renderDemoFrame(c, n, argb->back().data(), size.width * 4);
        }
        return true;
    }
    auto source = zemo3::content::openContent(content, size.width, size.height, error);
    std::vector<uint8_t> rgba;
    for (uint64_t n = 0; source && n < frames; ++n) {
        if (!source->next(&rgba)) {
            *error = content + ": " + source->error();
            return false;
        }
        argb->push_back(zemo3::bench::toArgb(rgba));
    }
    return source != nullptr;
}

using Packets = std::vector<std::vector<uint8_t>>;

// FFmpeg's HAP frames of the ARGB clip, one a picture, from the encoder
// nearest the type; *tag is the encoder's codec tag.
bool encodeHap(const Clip& argb, uint32_t type, const Size& size, Packets* packets, uint32_t* tag, std::string* error)
{
    AVCodecContext* encoder = zemo3::bench::openHapEncoder(type, size.width, size.height, kFps, error);
    if (!encoder)
        return false;
    *tag = encoder->codec_tag;
    packets->clear();
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = frame && packet;
    if (ok) {
        frame->format = AV_PIX_FMT_RGBA;
        frame->width = int(size.width);
        frame->height = int(size.height);
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    // Each picture in turn, then nothing: the encoder drained.
    for (size_t n = 0; ok && n <= argb.size(); ++n) {
        if (n < argb.size()) {
            ok = av_frame_make_writable(frame) >= 0;
            for (uint32_t y = 0; ok && y < size.height; ++y) {
                const uint8_t* s = argb[n].data() + size_t(y) * size.width * 4;
                uint8_t* d = frame->data[0] + size_t(y) * size_t(frame->linesize[0]);
                for (uint32_t x = 0; x < size.width; ++x, s += 4, d += 4)
                    d[0] = s[1], d[1] = s[2], d[2] = s[3], d[3] = s[0];
            }
            frame->pts = int64_t(n);
        }
        ok = ok && avcodec_send_frame(encoder, n < argb.size() ? frame : nullptr) >= 0;
        for (int r = 0; ok && (r = avcodec_receive_packet(encoder, packet)) != AVERROR(EAGAIN) && r != AVERROR_EOF;) {
            ok = r >= 0;
            if (ok)
                packets->emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    if (!ok || packets->size() != argb.size()) {
        *error = std::string("FFmpeg's HAP encoder failed (") + zemo3::bench::hapFormat(type) + ")";
        return false;
    }
    return true;
}

// HAP frames muxed into a QuickTime file, one a tick of 1/kFps s.
bool muxHap(const Packets& packets, uint32_t tag, const Size& size, const std::string& path, std::string* error)
{
    AVFormatContext* out = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = av_packet_alloc();
    bool ok = packet && avformat_alloc_output_context2(&out, nullptr, "mov", path.c_str()) >= 0 &&
              (stream = avformat_new_stream(out, nullptr)) != nullptr;
    if (ok) {
        stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        stream->codecpar->codec_id = AV_CODEC_ID_HAP;
        stream->codecpar->codec_tag = tag;
        stream->codecpar->width = int(size.width);
        stream->codecpar->height = int(size.height);
        stream->time_base = AVRational{1, kFps};
        ok = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    }
    for (size_t n = 0; ok && n < packets.size(); ++n) {
        ok = av_new_packet(packet, int(packets[n].size())) >= 0;
        if (!ok)
            break;
        std::memcpy(packet->data, packets[n].data(), packets[n].size());
        // A frame lasts one tick. Without a duration the muxer gives the
        // last frame none, and the demuxer then leaves it out of some
        // movies (10 frames at 1080p held 9).
        packet->pts = packet->dts = int64_t(n);
        packet->duration = 1;
        packet->flags |= AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(packet, AVRational{1, kFps}, stream->time_base);
        packet->stream_index = stream->index;
        ok = av_interleaved_write_frame(out, packet) >= 0;
    }
    ok = ok && av_write_trailer(out) >= 0;
    if (out && out->pb)
        ok = avio_closep(&out->pb) >= 0 && ok;
    avformat_free_context(out);
    av_packet_free(&packet);
    if (!ok)
        *error = "FFmpeg could not write the HAP movie " + path;
    return ok;
}

// FFmpeg's HAP movie of the ARGB clip: the encoder nearest the type.
bool writeHapMovie(const Clip& argb, uint32_t type, const Size& size, const std::string& path, std::string* error)
{
    Packets packets;
    uint32_t tag = 0;
    return encodeHap(argb, type, size, &packets, &tag, error) && muxHap(packets, tag, size, path, error);
}

// ------------------------------------------------------------------ HAP

// How HAP stored a frame's texture: the high nibble of its section type.
enum HapStorage { kUncompressed = 0xA, kSnappy = 0xB, kChunked = 0xC };
// The section type of a frame of two textures (HAP Q Alpha: the YCoCg one,
// then the alpha one), and the low nibble of an alpha texture's (RGTC1).
constexpr uint8_t kTwoTextures = 0x0D, kAlphaTexture = 0x1;

// Bytes of the texture of a HAP format at a size: DXT1 blocks for hap, DXT5
// for hap_alpha and hap_q (YCoCg in DXT5). HAP Q Alpha has an alpha texture
// of 8-byte blocks beside hap_q's.
size_t hapTextureBytes(uint32_t type, const Size& s)
{
    return size_t((s.width + 3) / 4) * ((s.height + 3) / 4) * (type == 0 ? 8 : 16);
}

// One section: a 24-bit little-endian size and the type; a size of 0: the
// size follows in 32 bits.
struct Section {
    uint8_t type = 0;
    const uint8_t* data = nullptr;
    size_t length = 0, whole = 0;  // its data, and with its header
};

bool readSection(const uint8_t* data, size_t size, Section* s, std::string* error)
{
    if (size < 4) {
        *error = "a HAP section shorter than its header";
        return false;
    }
    size_t length = size_t(data[0]) | size_t(data[1]) << 8 | size_t(data[2]) << 16, header = 4;
    if (length == 0 && size >= 8) {
        length = size_t(data[4]) | size_t(data[5]) << 8 | size_t(data[6]) << 16 | size_t(data[7]) << 24;
        header = 8;
    }
    if (length == 0 || length > size - header) {
        *error = "a HAP section larger than its frame";
        return false;
    }
    *s = {data[3], data + header, length, header + length};
    return true;
}

void appendSectionHeader(std::vector<uint8_t>* out, size_t length, uint8_t type)
{
    const bool small = length <= 0xFFFFFF;
    for (int k = 0; k < 3; ++k)
        out->push_back(small ? uint8_t(length >> (8 * k)) : 0);
    out->push_back(type);
    for (int k = 0; !small && k < 4; ++k)
        out->push_back(uint8_t(length >> (8 * k)));
}

// A section's texture into destination, as a player takes it: copied
// (stored uncompressed) or uncompressed by Snappy. Its bytes, or 0 with
// *error saying why.
size_t sectionTexture(const Section& s, uint8_t* destination, size_t capacity, int* storage, std::string* error)
{
    const char* section = reinterpret_cast<const char*>(s.data);
    *storage = s.type >> 4;
    if (*storage == kUncompressed && s.length <= capacity) {
        std::memcpy(destination, section, s.length);
        return s.length;
    }
    size_t out = capacity;
    if (*storage == kSnappy &&
        snappy_uncompress(section, s.length, reinterpret_cast<char*>(destination), &out) == SNAPPY_OK)
        return out;
    char type[8];
    std::snprintf(type, sizeof type, "0x%02X", s.type);
    *error = *storage == kChunked ? std::string("unsupported: HAP stored a frame in chunks (section type ") + type + ")"
             : *storage == kSnappy || *storage == kUncompressed
                 ? "a HAP texture that does not fit or does not uncompress"
                 : std::string("an unknown HAP section type ") + type;
    return 0;
}

// The textures of one HAP frame: the one texture into destination, or with
// two (HAP Q Alpha) the alpha one into alpha. The bytes of each, or false
// with *error saying why; *storage is the first texture's.
bool hapTextures(const uint8_t* data, size_t size, uint8_t* destination, size_t capacity, uint8_t* alpha,
                 size_t alphaCapacity, size_t* bytes, size_t* alphaBytes, int* storage, std::string* error)
{
    Section top, colour, matte;
    if (!readSection(data, size, &top, error))
        return false;
    *alphaBytes = 0;
    if (top.type != kTwoTextures)
        return (*bytes = sectionTexture(top, destination, capacity, storage, error)) != 0;
    int alphaStorage = 0;
    if (!alpha || !readSection(top.data, top.length, &colour, error) ||
        !readSection(top.data + colour.whole, top.length - colour.whole, &matte, error)) {
        if (!alpha)
            *error = "a HAP frame of two textures where one was asked for";
        return false;
    }
    *bytes = sectionTexture(colour, destination, capacity, storage, error);
    *alphaBytes = *bytes ? sectionTexture(matte, alpha, alphaCapacity, &alphaStorage, error) : 0;
    return *alphaBytes != 0;
}

// HAP Q Alpha's frames, which FFmpeg's encoder does not make, put together
// as that format has them: hap_q's frame and an alpha texture in one
// section. The alpha texture's blocks are FFmpeg's own, those of its
// hap_alpha frame of the same picture (the first 8 bytes of each DXT5
// block), compressed by Snappy as HAP's encoders do, or stored as they are
// where that does not shrink them.
bool hapQAlphaFrames(const Packets& q, const Packets& withAlpha, const Size& size, Packets* frames, uint64_t* packed,
                     std::string* error)
{
    *packed = 0;
    const size_t blocks = hapTextureBytes(1, size) / 16;
    std::vector<uint8_t> dxt5(blocks * 16), alpha(blocks * 8), out(snappy_max_compressed_length(blocks * 8));
    frames->clear();
    for (size_t n = 0; n < q.size() && n < withAlpha.size(); ++n) {
        size_t bytes = 0, none = 0;
        int storage = 0;
        if (!hapTextures(withAlpha[n].data(), withAlpha[n].size(), dxt5.data(), dxt5.size(), nullptr, 0, &bytes, &none,
                         &storage, error) ||
            bytes != dxt5.size()) {
            *error = "FFmpeg's hap_alpha frame " + std::to_string(n) + ": " + (bytes ? "a texture too short" : *error);
            return false;
        }
        for (size_t b = 0; b < blocks; ++b)
            std::memcpy(&alpha[8 * b], &dxt5[16 * b], 8);
        size_t packedBytes = out.size();
        if (snappy_compress(reinterpret_cast<const char*>(alpha.data()), alpha.size(),
                            reinterpret_cast<char*>(out.data()), &packedBytes) != SNAPPY_OK) {
            *error = "Snappy could not compress an alpha texture";
            return false;
        }
        const bool shrunk = packedBytes < alpha.size();
        *packed += shrunk;
        const uint8_t* matte = shrunk ? out.data() : alpha.data();
        const size_t matteBytes = shrunk ? packedBytes : alpha.size();
        // Both sections with the shorter header where the size fits in it
        // (FFmpeg's decoder refuses the longer one inside a frame of two).
        Section colour;
        if (!readSection(q[n].data(), q[n].size(), &colour, error))
            return false;
        std::vector<uint8_t> sections;
        appendSectionHeader(&sections, colour.length, colour.type);
        sections.insert(sections.end(), colour.data, colour.data + colour.length);
        appendSectionHeader(&sections, matteBytes, uint8_t((shrunk ? kSnappy : kUncompressed) << 4 | kAlphaTexture));
        sections.insert(sections.end(), matte, matte + matteBytes);
        std::vector<uint8_t>& frame = frames->emplace_back();
        appendSectionHeader(&frame, sections.size(), kTwoTextures);
        frame.insert(frame.end(), sections.begin(), sections.end());
    }
    return true;
}

// HAP Q Alpha's movie of the ARGB clip (see hapQAlphaFrames).
bool writeHapQAlphaMovie(const Clip& argb, const Size& size, const std::string& path, uint64_t* packed,
                         std::string* error)
{
    Packets q, withAlpha, frames;
    uint32_t tag = 0;
    return encodeHap(argb, 2, size, &q, &tag, error) && encodeHap(argb, 1, size, &withAlpha, &tag, error) &&
           hapQAlphaFrames(q, withAlpha, size, &frames, packed, error) &&
           muxHap(frames, MKTAG('H', 'a', 'p', 'M'), size, path, error);
}

// ------------------------------------------------------------ the bench

// One row of the table: a size, a content and a type, with its best figures.
struct Row {
    Size size;
    std::string content;
    uint32_t type = 0;
    uint64_t frames = 0;
    double oursMs[2] = {NAN, NAN};  // 1 and 2 threads
    int threadsInUse = 0;           // what zemo3_set_threads gave for 2
    double hapMs = NAN;
    std::string hapStored;
    uint64_t oursBytes = 0, hapBytes = 0;
    // High-alpha: HAP Q Alpha beside hap_q, which has no alpha.
    double hapQAlphaMs = NAN;
    std::string hapQAlphaStored;
    uint64_t hapQAlphaBytes = 0, hapQAlphaPacked = 0;  // frames whose alpha Snappy shrank
    std::string failure;

    std::string key() const { return size.name() + "/" + content + "/" + nox::formatFacts(type).keyword; }
};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The movies of one row at a time, the pictures of one size and content at a
// time, and the destination both sides restore into.
class Bench {
public:
    explicit Bench(emulated_host::ModuleSession& session) : session_(session) { platform::makeDirectories(folder_); }
    ~Bench() { platform::removeTree(folder_); }

    // The row's two movies, made unless they are the last ones made.
    bool prepare(Row& row, std::string* error)
    {
        if (row.key() == movieKey_)
            return true;
        if (row.key() == failedKey_) {
            *error = failure_;
            return false;
        }
        if (!make(row, error)) {
            failedKey_ = row.key();
            failure_ = *error;
            return false;
        }
        movieKey_ = row.key();
        return true;
    }

    // A destination of at least `bytes` bytes, written through once so that
    // no page of it is first touched while timed.
    uint8_t* destination(size_t bytes)
    {
        if (destination_.size() < bytes)
            destination_.assign(bytes, 0);
        return destination_.data();
    }

    std::string ours() const { return folder_ + "/ours.mov"; }
    std::string hap() const { return folder_ + "/hap.mov"; }
    std::string hapQAlpha() const { return folder_ + "/hap-q-alpha.mov"; }

private:
    bool make(Row& row, std::string* error)
    {
        platform::removeFile(ours());
        platform::removeFile(hap());
        platform::removeFile(hapQAlpha());
        movieKey_.clear();
        const std::string clipKey = row.size.name() + "/" + row.content;
        if (clipKey != clipKey_) {
            std::fprintf(stderr, "bench_play_cpu: %llu pictures of %s at %s\n", (unsigned long long)row.frames,
                         row.content.c_str(), row.size.name().c_str());
            clipKey_.clear();
            if (!makePictures(row.content, row.size, row.frames, &clip_, error))
                return false;
            clipKey_ = clipKey;
        }
        std::fprintf(stderr, "bench_play_cpu: the %s movies of %s\n", nox::formatFacts(row.type).keyword,
                     clipKey.c_str());
        emulated_host::RenderJob job;
        job.path = ours();
        job.width = row.size.width;
        job.height = row.size.height;
        job.fpsNum = kFps;
        job.formatType = row.type;
        job.frameLimit = row.frames;
        const emulated_host::RenderResult r = zemo3::bench::exportClip(session_, job, clip_);
        if (r.failed != emulated_host::RenderStep::Done || r.frames != row.frames || !session_.errors().empty()) {
            *error = "the export through the module failed (error " + std::to_string(r.err) + ")" +
                     (session_.errors().empty() ? "" : ": " + session_.errors().front());
            return false;
        }
        if (!writeHapMovie(clip_, row.type, row.size, hap(), error))
            return false;
        if (row.type == 3 && !writeHapQAlphaMovie(clip_, row.size, hapQAlpha(), &row.hapQAlphaPacked, error))
            return false;
        // Into the page cache, and the sizes.
        std::vector<uint8_t> bytes;
        if (!platform::readFile(ours(), &bytes, error))
            return false;
        row.oursBytes = bytes.size();
        if (!platform::readFile(hap(), &bytes, error))
            return false;
        row.hapBytes = bytes.size();
        if (row.type == 3) {
            if (!platform::readFile(hapQAlpha(), &bytes, error))
                return false;
            row.hapQAlphaBytes = bytes.size();
        }
        return true;
    }

    emulated_host::ModuleSession& session_;
    std::string folder_ =
        platform::temporaryFolder() + "/zemo3-bench-play-cpu-" + std::to_string(platform::processId());
    std::string clipKey_, movieKey_, failedKey_, failure_;
    Clip clip_;
    std::vector<uint8_t> destination_;
};

void failed(benchmark::State& state, Row& row, const std::string& error)
{
    row.failure = error;
    state.SkipWithError(error.c_str());
}

void keepBest(double* best, double seconds, uint64_t frames)
{
    const double ms = seconds * 1000.0 / double(frames);
    *best = std::isnan(*best) ? ms : std::min(*best, ms);
}

// Ours: every frame of the movie restored into the destination.
void timeOurs(benchmark::State& state, Bench& bench, Row& row, int threads)
{
    std::string error;
    if (!bench.prepare(row, &error))
        return failed(state, row, error);
    char message[512] = {};
    Zemo3Movie* movie = zemo3_open(bench.ours().c_str(), message, sizeof message);
    if (!movie)
        return failed(state, row, std::string("zemo3_open: ") + message);
    const int inUse = zemo3_set_threads(movie, threads);
    if (threads == 2)
        row.threadsInUse = inUse;
    const size_t capacity = zemo3_frame_bytes(movie);
    uint8_t* destination = bench.destination(capacity);
    if (const int64_t frames = zemo3_info(movie)->frameCount; uint64_t(frames) != row.frames) {
        zemo3_close(movie);
        return failed(state, row, "our movie holds " + std::to_string(frames) + " frames");
    }
    double total = 0;
    bool ok = true;
    for (auto _ : state) {
        Zemo3Frame frame;
        const auto start = Clock::now();
        const int r = zemo3_next_frame_into(movie, &frame, destination, capacity);
        const double seconds = secondsSince(start);
        benchmark::ClobberMemory();
        state.SetIterationTime(seconds);
        total += seconds;
        if (r != ZEMO3_OK) {
            failed(state, row,
                   std::string("zemo3_next_frame_into: ") +
                       (r == ZEMO3_END ? "the movie ended early" : zemo3_error(movie)));
            ok = false;
            break;
        }
    }
    zemo3_close(movie);
    if (ok)
        keepBest(&row.oursMs[threads - 1], total, row.frames);
}

// HAP: every packet read by libavformat and its texture taken out; with
// qAlpha, HAP Q Alpha's movie and its two textures.
void timeHap(benchmark::State& state, Bench& bench, Row& row, bool qAlpha)
{
    std::string error;
    if (!bench.prepare(row, &error))
        return failed(state, row, error);
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, (qAlpha ? bench.hapQAlpha() : bench.hap()).c_str(), nullptr, nullptr) < 0)
        return failed(state, row, "libavformat cannot open the HAP movie");
    const int video = avformat_find_stream_info(in, nullptr) >= 0
                          ? av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                          : -1;
    AVPacket* packet = av_packet_alloc();
    if (video < 0 || !packet) {
        av_packet_free(&packet);
        avformat_close_input(&in);
        return failed(state, row, "no video stream in the HAP movie");
    }
    const size_t capacity = hapTextureBytes(row.type, row.size), alphaCapacity = qAlpha ? capacity / 2 : 0;
    uint8_t* destination = bench.destination(capacity + alphaCapacity);
    uint8_t* alpha = qAlpha ? destination + capacity : nullptr;
    double total = 0;
    uint64_t stored[16] = {};
    for (auto _ : state) {
        const auto start = Clock::now();
        int r;
        while ((r = av_read_frame(in, packet)) >= 0 && packet->stream_index != video)
            av_packet_unref(packet);
        int storage = 0;
        size_t bytes = 0, alphaBytes = 0;
        if (r >= 0 && !hapTextures(packet->data, size_t(packet->size), destination, capacity, alpha, alphaCapacity,
                                   &bytes, &alphaBytes, &storage, &error))
            bytes = 0;
        av_packet_unref(packet);
        const double seconds = secondsSince(start);
        benchmark::ClobberMemory();
        state.SetIterationTime(seconds);
        total += seconds;
        if (r < 0 || bytes != capacity || alphaBytes != alphaCapacity) {
            failed(state, row,
                   r < 0 ? "the HAP movie ended after " + std::to_string(stored[kSnappy] + stored[kUncompressed]) +
                               " frames"
                   : bytes ? "HAP textures of " + std::to_string(bytes) + " and " + std::to_string(alphaBytes) +
                                 " bytes, not " + std::to_string(capacity) + " and " + std::to_string(alphaCapacity)
                           : error);
            break;
        }
        ++stored[storage];
    }
    av_packet_free(&packet);
    avformat_close_input(&in);
    if (state.error_occurred())
        return;
    keepBest(qAlpha ? &row.hapQAlphaMs : &row.hapMs, total, row.frames);
    (qAlpha ? row.hapQAlphaStored : row.hapStored) =
        stored[kUncompressed] == 0 ? "snappy"
        : stored[kSnappy] == 0
            ? "uncompressed"
            : "snappy " + std::to_string(stored[kSnappy]) + ", uncompressed " + std::to_string(stored[kUncompressed]);
}

// ---------------------------------------------------------------- table

std::string figure(double v, int decimals = 2)
{
    if (std::isnan(v))
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void printTable(const std::vector<Row>& rows)
{
    std::printf(
        "\n| Size | Content | Ours | ms/frame, 1 thread | ms/frame, 2 threads | HAP | stored | HAP ms/frame "
        "| ours/HAP | bytes ours/HAP | 4K30 streams a core, ours | 4K30 streams a core, HAP |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        if (std::isnan(r.oursMs[0]) && std::isnan(r.oursMs[1]) && std::isnan(r.hapMs) && r.failure.empty())
            continue;  // filtered out
        const bool uhd = r.size.width == 3840 && r.size.height == 2160;
        auto streams = [&](double ms) { return uhd ? figure(1000.0 / (kFps * ms), 1) : "-"; };
        std::string two = figure(r.oursMs[1]);
        if (r.threadsInUse && r.threadsInUse != 2)
            two += " (" + std::to_string(r.threadsInUse) + " in use)";
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", r.size.name().c_str(),
                    r.content.c_str(), nox::formatFacts(r.type).keyword, figure(r.oursMs[0]).c_str(), two.c_str(),
                    zemo3::bench::hapFormat(r.type),
                    r.hapStored.empty() ? (r.failure.empty() ? "-" : r.failure.c_str()) : r.hapStored.c_str(),
                    figure(r.hapMs).c_str(), figure(r.oursMs[0] / r.hapMs).c_str(),
                    r.hapBytes ? figure(double(r.oursBytes) / double(r.hapBytes)).c_str() : "-",
                    streams(r.oursMs[0]).c_str(), streams(r.hapMs).c_str());
    }
    // High-alpha against HAP Q Alpha, the HAP format with alpha beside the
    // YCoCg texture.
    bool any = false;
    for (const Row& r : rows) {
        if (r.type != 3 || (std::isnan(r.oursMs[0]) && std::isnan(r.hapQAlphaMs)))
            continue;
        if (!any)
            std::printf(
                "\n| Size | Content | Ours | ms/frame, 1 thread | HAP Q Alpha ms/frame | stored | alpha "
                "stored | ours/HAP Q Alpha | bytes ours/HAP Q Alpha |\n|---|---|---|---|---|---|---|---|---|\n");
        any = true;
        const std::string alpha = r.hapQAlphaPacked == r.frames ? "snappy"
                                  : r.hapQAlphaPacked == 0
                                      ? "uncompressed"
                                      : "snappy " + std::to_string(r.hapQAlphaPacked) + ", uncompressed " +
                                            std::to_string(r.frames - r.hapQAlphaPacked);
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", r.size.name().c_str(), r.content.c_str(),
                    nox::formatFacts(r.type).keyword, figure(r.oursMs[0]).c_str(), figure(r.hapQAlphaMs).c_str(),
                    r.hapQAlphaStored.empty() ? "-" : r.hapQAlphaStored.c_str(), r.hapQAlphaBytes ? alpha.c_str() : "-",
                    figure(r.oursMs[0] / r.hapQAlphaMs).c_str(),
                    r.hapQAlphaBytes ? figure(double(r.oursBytes) / double(r.hapQAlphaBytes)).c_str() : "-");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    Settings settings;
    std::string error;
    if (!readSettings(&settings, &error)) {
        std::fprintf(stderr, "bench_play_cpu: %s\n", error.c_str());
        return 2;
    }
    emulated_host::ModuleSession session;
    if (session.open(emulated_host::defaultModulePath(), &error) != emulated_host::RenderStep::Done) {
        std::fprintf(stderr, "bench_play_cpu: %s\n", error.c_str());
        return 1;
    }
    const double load = platform::loadAverage();
    std::printf(
        "bench_play_cpu: ms per frame, the best of %d runs, ours and HAP's in turn; kernel %s, %u cores, load average "
        "%s\n",
        settings.repeat, nox::simdLevelName(nox::activeSimdLevel()), std::thread::hardware_concurrency(),
        load >= 0 ? figure(load).c_str() : "unknown");
    std::fflush(stdout);

    std::vector<Row> rows;
    for (const Size& size : settings.sizes)
        for (const std::string& content : settings.contents)
            for (uint32_t type : settings.types) {
                Row& row = rows.emplace_back();
                row.size = size;
                row.content = content;
                row.type = type;
                row.frames = settings.framesAt(size);
            }
    int exitCode = 0;
    {
        Bench bench(session);
        for (Row& row : rows) {
            auto add = [&](const std::string& name, auto run) {
                benchmark::RegisterBenchmark(name.c_str(), run)
                    ->UseManualTime()
                    ->Iterations(int64_t(row.frames))
                    ->Unit(benchmark::kMillisecond);
            };
            // The runs of a row taken in turn, ours then HAP's, so that a
            // spell in which the machine runs slower (minutes, on a shared
            // one) falls on both sides of a row alike.
            Row* r = &row;
            for (int k = 1; k <= settings.repeat; ++k) {
                const std::string run = "/run:" + std::to_string(k);
                add("ours/" + row.key() + "/threads:1" + run,
                    [&bench, r](benchmark::State& s) { timeOurs(s, bench, *r, 1); });
                add(std::string("hap/") + row.key() + "/" + zemo3::bench::hapFormat(row.type) + run,
                    [&bench, r](benchmark::State& s) { timeHap(s, bench, *r, false); });
                if (row.type == 3)
                    add("hap/" + row.key() + "/hap_q_alpha" + run,
                        [&bench, r](benchmark::State& s) { timeHap(s, bench, *r, true); });
                if (row.type >= 2)
                    add("ours/" + row.key() + "/threads:2" + run,
                        [&bench, r](benchmark::State& s) { timeOurs(s, bench, *r, 2); });
            }
        }
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        for (const Row& row : rows)
            if (!row.failure.empty() && row.failure.rfind("unsupported", 0) != 0)
                exitCode = 1;
    }
    session.close();
    for (const std::string& e : session.errors())
        std::fprintf(stderr, "bench_play_cpu: host: %s\n", e.c_str());
    printTable(rows);
    return exitCode;
}
