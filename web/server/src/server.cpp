#include "view/server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "platform/platform.h"

namespace zemo3::view {

const char* const kPlayerFiles[6] = {"index.html", "player.css",      "player.js",
                                     "movie.js",   "zemo3-reader.js", "zemo3-reader.wasm"};

namespace {

const char* contentType(const std::string& name)
{
    auto ends = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
    };
    if (ends(".html"))
        return "text/html; charset=utf-8";
    if (ends(".css"))
        return "text/css; charset=utf-8";
    if (ends(".js"))
        return "text/javascript; charset=utf-8";
    if (ends(".wasm"))
        return "application/wasm";
    return "application/octet-stream";
}

std::string parentOf(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? "." : path.substr(0, cut);
}

bool holdsPlayer(const std::string& folder)
{
    return std::all_of(std::begin(kPlayerFiles), std::end(kPlayerFiles),
                       [&](const char* f) { return platform::fileSize(folder + "/" + f).has_value(); });
}

// Equal without stopping at the first difference, so that the time taken
// says nothing of how much of a guessed token was right.
bool sameSecret(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char d = 0;
    for (size_t i = 0; i < a.size(); ++i)
        d |= static_cast<unsigned char>(a[i] ^ b[i]);
    return d == 0;
}

// httplib's request handling, open to requests that come from memory.
class HttpServer : public httplib::Server {
public:
    using httplib::Server::process_request;
};

class MemoryStream : public httplib::Stream {
public:
    MemoryStream(std::string_view in, std::string* out) : in_(in), out_(out) {}
    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override
    {
        size = std::min(size, in_.size() - at_);
        std::memcpy(ptr, in_.data() + at_, size);
        at_ += size;
        return ssize_t(size);
    }
    ssize_t write(const char* ptr, size_t size) override
    {
        out_->append(ptr, size);
        return ssize_t(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = "127.0.0.1";
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string_view in_;
    size_t at_ = 0;
    std::string* out_;
};

}  // namespace

std::string findPlayerFolder(const std::string& executable, std::string* error)
{
    std::vector<std::string> places;
    if (const std::optional<std::string> set = platform::environmentValue("ZEMO3_PLAYER_DIR"); set && !set->empty())
        places.push_back(*set);
    places.push_back(parentOf(parentOf(executable)) + "/share/zemo3/player");
    places.push_back(parentOf(executable) + "/player");  // as the Windows packages lay it out
    if (*ZEMO3_SOURCE_DIR)
        places.push_back(std::string(ZEMO3_SOURCE_DIR) + "/build-web/player");
    for (const std::string& place : places)
        if (holdsPlayer(place))
            return place;
    *error = "the browser player is not built (make web) nor installed; looked in:";
    for (const std::string& place : places)
        *error += " " + place;
    return {};
}

std::string newToken()
{
    std::random_device random;
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = random();
        for (int k = 0; k < 8; ++k)
            token += digits[(word >> (4 * k)) & 15];
    }
    return token;
}

struct Server::Impl {
    Settings settings;
    HttpServer http;
    platform::MappedFile movie;
    std::map<std::string, std::string> files;  // the player's, read once
    int port = 0;

    void serveMovie(const httplib::Request& request, httplib::Response& response)
    {
        const uint64_t size = movie.size();
        // httplib takes a range's end as asked, past the end of the file too;
        // it is clipped here (the request is httplib's own, not const), and a
        // range that starts past the end is refused.
        for (auto& [first, last] : const_cast<httplib::Request&>(request).ranges) {
            if (first >= 0 && uint64_t(first) >= size) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                return;
            }
            if (first >= 0 && last >= 0 && uint64_t(last) >= size)
                last = ssize_t(size - 1);
        }
        // The movie's own name, for the page's title: printable ASCII only.
        std::string name = settings.movie.substr(settings.movie.find_last_of("/\\") + 1);
        for (char& c : name)
            if (c < 0x20 || c > 0x7e || c == '"' || c == '\\')
                c = '_';
        response.set_header("Content-Disposition", "inline; filename=\"" + name + "\"");
        const uint8_t* data = movie.data();
        response.set_content_provider(size_t(size), "video/quicktime",
                                      [data, size](size_t offset, size_t length, httplib::DataSink& sink) {
                                          if (offset >= size)
                                              return false;
                                          length = std::min<uint64_t>({length, size - offset, 1u << 20});
                                          return sink.write(reinterpret_cast<const char*>(data) + offset, length);
                                      });
    }

    void handle(const httplib::Request& request, httplib::Response& response)
    {
        const std::string& path = request.path;
        const std::string& token = settings.token;
        const bool underToken = path.size() >= token.size() + 2 && path[0] == '/' &&
                                sameSecret(std::string_view(path).substr(1, token.size()), token) &&
                                path[token.size() + 1] == '/';
        response.set_header("Cache-Control", "no-store");
        response.set_header("Referrer-Policy", "no-referrer");
        response.set_header("X-Content-Type-Options", "nosniff");
        if (underToken) {
            const std::string name = path.substr(token.size() + 2);
            if (name == "movie") {
                serveMovie(request, response);
                return;
            }
            auto file = files.find(name.empty() ? "index.html" : name);
            if (file != files.end()) {
                response.set_content(file->second, contentType(file->first));
                return;
            }
        }
        response.status = 404;
        response.set_content("not found\n", "text/plain");
    }
};

Server::Server(Settings settings) : impl_(std::make_unique<Impl>())
{
    impl_->settings = std::move(settings);
    if (impl_->settings.token.empty())
        impl_->settings.token = newToken();
    auto handler = [impl = impl_.get()](const httplib::Request& q, httplib::Response& r) { impl->handle(q, r); };
    impl_->http.Get(".*", handler);
    // Unmatched paths (and methods other than GET and HEAD) get the same
    // plain 404 as paths outside the token.
    impl_->http.set_error_handler([](const httplib::Request&, httplib::Response& r) {
        if (r.status == 404 || r.status == 400 || r.status == 405)
            r.set_content("not found\n", "text/plain");
    });
}

Server::~Server() { stop(); }

bool Server::load(std::string* error)
{
    Impl& s = *impl_;
    if (!s.movie.open(s.settings.movie, error))
        return false;
    for (const char* name : kPlayerFiles) {
        std::vector<uint8_t> bytes;
        if (!platform::readFile(s.settings.playerFolder + "/" + name, &bytes, error))
            return false;
        s.files[name] = std::string(bytes.begin(), bytes.end());
    }
    return true;
}

bool Server::start(std::string* error)
{
    Impl& s = *impl_;
    if (!load(error))
        return false;
    if (s.settings.port < 0 || s.settings.port > 65535) {
        *error = "the port must be from 0 to 65535";
        return false;
    }
    if (s.settings.port > 0) {
        if (!s.http.bind_to_port("127.0.0.1", s.settings.port)) {
            *error = "cannot listen on 127.0.0.1:" + std::to_string(s.settings.port) + " (in use?)";
            return false;
        }
        s.port = s.settings.port;
    } else {
        s.port = s.http.bind_to_any_port("127.0.0.1");
        if (s.port <= 0) {
            *error = "cannot listen on 127.0.0.1";
            return false;
        }
    }
    return true;
}

int Server::port() const { return impl_->port; }
const std::string& Server::token() const { return impl_->settings.token; }
std::string Server::url() const { return "http://127.0.0.1:" + std::to_string(port()) + "/" + token() + "/"; }
void Server::run() { impl_->http.listen_after_bind(); }
void Server::stop()
{
    if (impl_->http.is_running())
        impl_->http.stop();
}

std::string Server::answer(std::string_view request)
{
    std::string out;
    MemoryStream stream(request, &out);
    bool closed = false;
    impl_->http.process_request(stream, true, closed, [](httplib::Request&) {});
    return out;
}

}  // namespace zemo3::view
