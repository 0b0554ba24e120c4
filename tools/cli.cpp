#include "cli.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "codec/frame_format.h"
#include "codec/picture_area.h"
#include "codec/zemo3.h"
#include "platform/platform.h"
#include "progress.h"

namespace zemo3 {

int fail(int code, const std::string& message)
{
    std::fprintf(stderr, "zemo3: %s\n", message.c_str());
    return code;
}

Args parseArgs(const std::vector<std::string>& in, const std::set<std::string>& valued,
               const std::set<std::string>& flags)
{
    Args a;
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& s = in[i];
        if (s == "--help" || s == "-h") {
            a.help = true;
            continue;
        }
        if (s.size() > 1 && s[0] == '-' && !(s.size() > 1 && (s[1] >= '0' && s[1] <= '9'))) {
            std::string name = s, value;
            bool inlineValue = false;
            size_t eq = s.find('=');
            if (eq != std::string::npos) {
                name = s.substr(0, eq);
                value = s.substr(eq + 1);
                inlineValue = true;
            }
            if (valued.count(name)) {
                if (!inlineValue) {
                    if (i + 1 >= in.size()) {
                        a.error = "option " + name + " needs a value";
                        return a;
                    }
                    value = in[++i];
                }
                a.options[name] = value;
            } else if (flags.count(name) && !inlineValue) {
                a.flags.insert(name);
            } else {
                a.error = "unknown option '" + s + "'";
                return a;
            }
            continue;
        }
        a.positional.push_back(s);
    }
    return a;
}

bool parseUint(const std::string& text, uint64_t max, uint64_t* value)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        uint64_t next = v * 10 + uint64_t(c - '0');
        if (next / 10 != v)
            return false;
        v = next;
    }
    if (v > max)
        return false;
    *value = v;
    return true;
}

int parseCompression(const std::string& text) { return nox::exportedTypeNamed(text.c_str()); }

namespace {

// Digits only, at most `max`; false for anything else (a sign, a space, an
// exponent, nothing at all).
bool wholeNumber(std::string_view text, int64_t max, int64_t* value)
{
    if (text.empty())
        return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || v > (max - (c - '0')) / 10)
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

}  // namespace

bool parseRate(const std::string& text, int32_t* num, int32_t* den)
{
    int64_t n = 0, d = 1;
    const size_t slash = text.find('/'), point = text.find('.');
    if (slash != std::string::npos) {
        // A fraction of whole numbers: 30000/1001.
        if (!wholeNumber(std::string_view(text).substr(0, slash), INT32_MAX, &n) ||
            !wholeNumber(std::string_view(text).substr(slash + 1), INT32_MAX, &d))
            return false;
    } else if (point != std::string::npos) {
        // A decimal, as a fraction over 1000 so that 29.97 stays exact;
        // digits past the thousandth round.
        int64_t whole = 0;
        const std::string_view digits = std::string_view(text).substr(point + 1);
        if (!wholeNumber(std::string_view(text).substr(0, point), 999999, &whole) || digits.empty() ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        int64_t thousandths = 0;
        for (size_t i = 0; i < 4; ++i)
            thousandths = thousandths * 10 + (i < digits.size() ? digits[i] - '0' : 0);
        n = whole * 1000 + (thousandths + 5) / 10, d = 1000;
        if (n % 1000 == 0)
            n /= 1000, d = 1;
    } else if (!wholeNumber(text, INT32_MAX, &n)) {
        return false;
    }
    // Above 0 and below 1000 frames per second.
    if (n <= 0 || d <= 0 || n >= 1000 * d)
        return false;
    *num = int32_t(n), *den = int32_t(d);
    return true;
}

const char* const kRateRule = "a rate above 0 and below 1000 frames per second, such as 25, 29.97 or 30000/1001";

std::string pictureSizeLimit(uint64_t width, uint64_t height)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    for (const auto& [side, value] : {std::pair{"width", width}, std::pair{"height", height}})
        if (value > kMaxPictureSide)
            return size + ": the " + side + " " + std::to_string(value) + " is past " +
                   std::to_string(kMaxPictureSide) + ", the largest texture side of the GPUs that play the movie";
    if (const std::string area = nox::pictureAreaLimit(width, height); !area.empty())
        return size + ": " + area;
    return "";
}

bool parseSizeText(const std::string& text, uint32_t* width, uint32_t* height, std::string* why,
                   const std::string& option)
{
    const size_t x = text.find('x');
    uint64_t a, b;
    std::string reason;
    if (x == std::string::npos || !parseUint(text.substr(0, x), UINT32_MAX, &a) ||
        !parseUint(text.substr(x + 1), UINT32_MAX, &b) || a == 0 || b == 0)
        reason = option + " must look like 1920x1080";
    else if (const std::string limit = pictureSizeLimit(a, b); !limit.empty())
        reason = option + " " + limit;
    if (!reason.empty()) {
        if (why)
            *why = reason;
        return false;
    }
    *width = uint32_t(a);
    *height = uint32_t(b);
    return true;
}

const std::set<std::string> kReferenceOptions = {"--reference", "--size", "--fps", "--duration"};
const std::set<std::string> kReferenceFlags = {"--demo", "--no-sound"};
const char* kReferenceUsage =
    "  --reference SRC  compare with SRC: any media file FFmpeg reads or an image\n"
    "                   sequence (scaled to the movie's size, as render reads it)\n"
    "  --demo           compare with the built-in demo composition, rendered with\n"
    "                   the settings render was given (its defaults unless set):\n"
    "    --size WxH       demo picture size (default 1280x720)\n"
    "    --fps RATE       frame rate, e.g. 25, 29.97 or 30000/1001 (default 30)\n"
    "    --duration S     seconds (demo default 5; limits a media reference too)\n"
    "    --no-sound       the reference has no sound\n";

bool parseReference(const Args& args, ReferenceRequest* request, bool* wanted, std::string* error)
{
    const bool demo = args.has("--demo");
    *wanted = false;
    if (demo && args.has("--reference")) {
        *error = "give --reference or --demo, not both";
        return false;
    }
    if (!demo && !args.has("--reference")) {
        for (const char* o : {"--size", "--fps", "--duration", "--no-sound"})
            if (args.has(o)) {
                *error = std::string(o) + " describes a reference: add --demo or --reference";
                return false;
            }
        return true;
    }
    if (args.has("--size") && !parseSizeText(args.get("--size"), &request->width, &request->height, error))
        return false;
    if (args.has("--fps") && !parseRate(args.get("--fps"), &request->fpsNum, &request->fpsDen)) {
        *error = std::string("--fps must be ") + kRateRule;
        return false;
    }
    if (args.has("--duration")) {
        try {
            request->duration = std::stod(args.get("--duration"));
        } catch (...) {
        }
        if (!(request->duration > 0 && request->duration < 1e6)) {
            *error = "--duration must be a positive number of seconds";
            return false;
        }
    }
    request->demo = demo;
    request->path = args.get("--reference");
    request->sound = !args.has("--no-sound");
    *wanted = true;
    return true;
}

bool CommandRun::parse(const std::vector<std::string>& in, const std::set<std::string>& valued,
                       const std::set<std::string>& flags)
{
    std::vector<std::string> spelled = in;
    if (valued.count("--output"))
        for (std::string& a : spelled)
            if (a == "-o")
                a = "--output";
    args_ = parseArgs(spelled, valued, flags);
    if (args_.help) {
        std::fputs(usage_.c_str(), stdout);
        return false;
    }
    return args_.error.empty() || stop(EXIT_USAGE, args_.error);
}

bool CommandRun::oneMovie()
{
    return args_.positional.size() == 1 || stop(EXIT_USAGE, "expected one MOVIE (see zemo3 " + name_ + " --help)");
}

bool CommandRun::movieExists()
{
    std::string reason;
    return platform::fileSize(movie(), &reason) || stop(EXIT_USAGE, "cannot open '" + movie() + "': " + reason);
}

bool CommandRun::openMovie(MovieReader* reader, MovieNeed need, const std::function<void(const std::string&)>& refused)
{
    std::string error;
    if (!reader->open(movie(), &error)) {
        if (refused)
            refused(error);
        return stop(EXIT_REJECTED, error);
    }
    const MovieInfo& info = reader->info();
    const bool video = info.video >= 0 && info.width != 0 && info.height != 0;
    if (need == MovieNeed::Video && !video)
        return stop(EXIT_REJECTED, "'" + movie() + "' has no video stream");
    if (need == MovieNeed::Zemo3Video && !(video && info.codecTag == kMovieTag))
        return stop(EXIT_REJECTED, "'" + movie() + "' has no Zemo 3 video stream");
    return true;
}

bool CommandRun::openReference(const MovieInfo& info, Reference* ref)
{
    ReferenceRequest request;
    bool wanted = false;
    std::string error;
    if (!parseReference(args_, &request, &wanted, &error) ||
        (wanted && !zemo3::openReference(request, info.width, info.height, ref, &error)))
        return stop(EXIT_USAGE, error);
    return true;
}

int CommandRun::fail(int code, const std::string& message)
{
    exit_ = code;
    return zemo3::fail(code, name_ + ": " + message);
}

int writeJoined(CommandRun& run, const std::vector<MoviePart>& parts, const std::string& output)
{
    ProgressLine line(run.name().c_str(), ProgressLine::PERCENT_LINES);
    JoinResult result;
    std::string error;
    bool partsOrOutput = false;
    if (!joinIntoFile(parts, output, &result, &error, &partsOrOutput,
                      [&](uint64_t done, uint64_t total) { line.draw(done, total, done == total); }))
        return run.fail(partsOrOutput ? EXIT_USAGE : EXIT_REJECTED, error);
    line.finish();
    std::printf("%s: %llu frames of %ux%u at %.3f fps, %s, %s\n", output.c_str(), (unsigned long long)result.frames,
                result.width, result.height, double(result.rateNum) / result.rateDen,
                nox::formatTypeName(result.formatType),
                result.samples ? (std::to_string(result.samples) + " sound samples").c_str() : "no sound");
    return EXIT_OK;
}

}  // namespace zemo3
