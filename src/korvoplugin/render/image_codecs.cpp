#include "render/image_codecs.h"

#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "host/win32_platform.h"

namespace Korvo {
namespace {

// decltype names the functions' types without referring to them: the plug-in has no link to
// the codec library, so a call by name would not resolve.
using ReadFn = decltype(&cv::imread);
using WriteFn = decltype(&cv::imwrite);

struct Codecs {
    ReadFn read = nullptr;
    WriteFn write = nullptr;
};

// The library's name carries OpenCV's major and minor version (4.6 ships as ….so.406), and its
// two functions are looked up by their C++ names.
const Codecs& LoadCodecs() {
    static const Codecs codecs = [] {
        Codecs loaded;
        const std::wstring name =
            L"libopencv_imgcodecs.so." + std::to_wstring(CV_VERSION_MAJOR * 100 + CV_VERSION_MINOR);
        // Kept loaded for the life of the process: OpenCV registers its codecs once.
        HMODULE library = LoadLibraryW(name.c_str());
        if (!library) return loaded;
        loaded.read = reinterpret_cast<ReadFn>(GetProcAddress(
            library, "_ZN2cv6imreadERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEi"));
        loaded.write = reinterpret_cast<WriteFn>(
            GetProcAddress(library,
                           "_ZN2cv7imwriteERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERK"
                           "NS_11_InputArrayERKSt6vectorIiSaIiEE"));
        return loaded;
    }();
    return codecs;
}

}  // namespace

cv::Mat ReadColorImage(const std::string& path) {
    const Codecs& codecs = LoadCodecs();
    if (!codecs.read) return {};
    try {
        return codecs.read(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return {};
    }
}

bool WriteImage(const std::string& path, const cv::Mat& image) {
    const Codecs& codecs = LoadCodecs();
    if (!codecs.write) return false;
    try {
        return codecs.write(path, image, std::vector<int>());
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace Korvo
