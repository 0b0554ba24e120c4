#include "writer/formats.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "core/logger.h"
#include "ffmpeg.h"
#include "writer/ffmpeg_writer.h"

namespace nox {

std::string getExtension(std::string_view path)
{
    // The separator of this platform is "/"; paths are not rewritten to any
    // other form, so the file name is what follows the last "/".
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

VideoFormat::VideoFormat(std::string name, std::string filePatterns, std::vector<CodecFourCC> codecs)
    : name_(std::move(name)), filePatterns_(std::move(filePatterns)), codecs_(std::move(codecs))
{
}

VideoFormat::~VideoFormat() = default;

bool VideoFormat::canHandle(std::string_view path) const { return canWrite(getExtension(path), kAnyCodec); }

bool VideoFormat::canWrite(std::string_view extension, CodecFourCC code) const
{
    std::string ext(extension);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    // A substring test, not a pattern match: cheap, and lenient on purpose.
    if (filePatterns_.find(ext) == std::string::npos)
        return false;
    if (code == kAnyCodec)
        return true;
    return std::find(codecs_.begin(), codecs_.end(), code) != codecs_.end();
}

std::unique_ptr<VideoFormatWriter> VideoFormat::createWriter(const std::string&, int32_t, int32_t, uint32_t, uint32_t,
                                                             uint32_t, const VideoStreamDescription&, uint32_t,
                                                             uint32_t, uint32_t, uint32_t) const
{
    return nullptr;
}

VideoFormatFFMPEG::VideoFormatFFMPEG()
    : VideoFormat("FFMPEG video file", "*.mov;*.mp4;*.avi;*.gif;*.wmv",
                  {fourCC("ZMQI"), fourCC("ZMQ3"), fourCC("ZMQ4"), fourCC("jpeg"), fourCC("gif "), fourCC("h264")})
{
    // FFmpeg 5 registers its muxers and demuxers by itself, and a stock build
    // offers no hook for the core's pool allocator, so there is no one-time
    // process-wide registration to do here.
    static const char* const kDemuxers[4] = {"mov", "gif", "avi", "asf"};
    for (size_t i = 0; i < 4; ++i)
        inputFormats_[i] = av_find_input_format(kDemuxers[i]);
}

std::unique_ptr<VideoFormatWriter>
VideoFormatFFMPEG::createWriter(const std::string& path, int32_t rateNum, int32_t rateDen, uint32_t bytesPerPixel,
                                uint32_t width, uint32_t height, const VideoStreamDescription& description,
                                uint32_t channels, uint32_t bytesPerSample, uint32_t sampleRate, uint32_t) const
{
    auto writer = std::make_unique<VideoFormatWriterFFMPEG>(description, path, rateNum, rateDen, bytesPerPixel, width,
                                                            height, channels, bytesPerSample, sampleRate);
    if (!writer->isOpen()) {
        log(LOG_ERROR, "FFmpeg movie writer: " + writer->failure());
        return nullptr;
    }
    return writer;
}

ImageVideoFormat::ImageVideoFormat() : VideoFormat("Image file", "*.png;*.jpg;*.jpeg;*.psd;*.tiff;*.tif;*.exr;", {}) {}

VideoFormatManager::~VideoFormatManager()
{
    while (!formats_.empty())
        formats_.pop_back();
}

void VideoFormatManager::registerFormat(std::unique_ptr<VideoFormat> format) { formats_.push_back(std::move(format)); }

void VideoFormatManager::registerBasicFormats()
{
    log(LOG_INFO, "Registering basic formats");
    registerFormat(std::make_unique<VideoFormatFFMPEG>());
    registerFormat(std::make_unique<ImageVideoFormat>());
    logf(LOG_INFO, "Registered %u formats", unsigned(formats_.size()));
}

void VideoFormatManager::shutdownFormats()
{
    for (auto& format : formats_)
        format->shutdown();
}

std::unique_ptr<VideoFormatWriter>
VideoFormatManager::createWriter(const std::string& path, int32_t rateNum, int32_t rateDen, uint32_t bytesPerPixel,
                                 uint32_t width, uint32_t height, const VideoStreamDescription& description,
                                 uint32_t channels, uint32_t bytesPerSample, uint32_t sampleRate) const
{
    const std::string extension = getExtension(path);
    for (const auto& format : formats_) {
        if (!format->canWrite(extension, description.fourCC))
            continue;
        auto writer = format->createWriter(path, rateNum, rateDen, bytesPerPixel, width, height, description, channels,
                                           bytesPerSample, sampleRate, 0);
        if (writer && writer->isOpen())
            return writer;
    }
    return nullptr;
}

namespace {

std::unique_ptr<FormatRegistry> makeVideoFormatManager()
{
    auto manager = std::make_unique<VideoFormatManager>();
    manager->registerBasicFormats();
    return manager;
}

}  // namespace

void useVideoFormats() { setFormatRegistryFactory(&makeVideoFormatManager); }

VideoFormatManager* videoFormatManager(Noxcore* context)
{
    if (!context)
        return nullptr;
    return dynamic_cast<VideoFormatManager*>(context->formatRegistry());
}

}  // namespace nox
