#include "standalone_host/cli/convert_command.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "standalone_host/cli/commands.h"
#include "standalone_host/panorama/equirect.h"

namespace KorvoCli {
namespace {

using KorvoHost::StereoPacking;

struct ConvertOptions {
    KorvoHost::ConvertRequest request;
    std::string to = "equirect";
};

int RunConvert(const ConvertOptions& options) {
    std::string error;
    if (!KorvoHost::ConvertPanorama(options.request, &error)) {
        std::fprintf(stderr, "korvo: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("%s\n", options.request.output.c_str());
    return kExitSuccess;
}

}  // namespace

SubcommandRunner AddConvertCommand(CLI::App& cli) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* convert = cli.add_subcommand(
        "convert",
        "Turn a panorama (either layout korvo writes) into a stereo equirectangular JPEG, the "
        "format VR players and video sites take. Default: top-bottom, LEFT EYE ON TOP, right eye "
        "below.");
    AddFileArgument(*convert, "PANORAMA", options->request.input,
                    "Panorama written by korvo (.jpg)");
    convert->add_option("-o,--output", options->request.output, "Equirectangular JPEG to write")
        ->required()
        ->option_text("OUT.jpg");
    convert->add_option("--to", options->to, "Projection (only equirect)")
        ->check(CLI::IsMember({"equirect"}))
        ->option_text("equirect");
    const std::map<std::string, StereoPacking> packings{{"top-bottom", StereoPacking::TopBottom},
                                                        {"side-by-side", StereoPacking::SideBySide},
                                                        {"left", StereoPacking::LeftEye},
                                                        {"right", StereoPacking::RightEye}};
    convert
        ->add_option("--stereo", options->request.packing,
                     "top-bottom: left eye on top, right eye below (default); side-by-side: left "
                     "eye on the left; left or right: that eye alone")
        ->transform(CLI::CheckedTransformer(packings, CLI::ignore_case).description(""))
        ->option_text("top-bottom|side-by-side|left|right");
    convert
        ->add_option("--width", options->request.eyeWidth,
                     "Width of each eye's picture in pixels, even; its height is half of it "
                     "(default 6144)")
        ->check(CLI::Range(2, KorvoHost::kMaxEquirectWidth))
        ->check(CLI::Validator(
            [](std::string& value) {
                return value.empty() || (value.back() - '0') % 2 == 0 ? std::string()
                                                                      : "must be even";
            },
            "", "even"))
        ->option_text("N");
    convert->footer(
        "Examples:\n"
        "  korvo convert renders/room_Cam_Free.jpg -o room_360_tb.jpg\n"
        "  korvo convert renders/room_Cam_Free.jpg -o room_left.jpg --stereo left --width 4096\n"
        "Longitude 0 (the camera's front) is the picture's centre; the left edge is behind it.\n");

    return [convert, options](const KorvoHost::HostOptions&) -> std::optional<int> {
        if (!convert->parsed()) return std::nullopt;
        return RunConvert(*options);
    };
}

}  // namespace KorvoCli
