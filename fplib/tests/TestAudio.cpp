#include "TestAudio.h"

#include "TestChild.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testaudio {
namespace {

struct Folder {
    fs::path path;
    Folder() {
        path = fs::temp_directory_path() / ("fplib-audio-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

Folder &theFolder() {
    static Folder instance;
    return instance;
}

std::map<std::string, std::string> &made() {
    static std::map<std::string, std::string> instance;
    return instance;
}

} // namespace

const std::string &folder() {
    static const std::string text = theFolder().path.string();
    return text;
}

std::string make(const std::string &name, const std::string &arguments) {
    auto found = made().find(name);
    if (found != made().end()) {
        return found->second;
    }
    const std::string path = folder() + "/" + name;
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments +
                                " '" + path + "' </dev/null";
    const std::string result = testchild::shell(command) == 0 ? path : std::string();
    made()[name] = result;
    return result;
}

std::string sine(const std::string &name, double seconds) {
    const std::string ext = fs::path(name).extension().string();
    std::string codec;
    if (ext == ".mp3") {
        codec = "-c:a libmp3lame -b:a 128k";
    } else if (ext == ".m4a") {
        codec = "-c:a aac -b:a 128k";
    } else if (ext == ".ogg") {
        codec = "-c:a libvorbis";
    }
    return make(name, "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
                          std::to_string(seconds) + " -ac 2 " + codec);
}

std::string truncated(const std::string &source, std::size_t bytes, const std::string &name) {
    const std::string path = folder() + "/" + name;
    std::ifstream in(source, std::ios::binary);
    std::string content(bytes, '\0');
    in.read(content.data(), static_cast<std::streamsize>(bytes));
    content.resize(static_cast<std::size_t>(in.gcount()));
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string noise(const std::string &name, std::size_t bytes) {
    std::mt19937 generator(1234);
    std::string content(bytes, '\0');
    for (char &c : content) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return text(name, content);
}

std::string text(const std::string &name, const std::string &content) {
    const std::string path = folder() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

} // namespace testaudio
