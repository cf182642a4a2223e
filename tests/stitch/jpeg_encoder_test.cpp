#include "stitch/jpeg_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace Korvo {
namespace {

using test::DecodeJpegStrict;
using test::EncodeJpegWithTurbo;
using test::MakePicture;
using test::ParseJpegHeaders;

std::vector<uint8_t> Encode(const std::vector<uint8_t>& pixels, int width, int height, int channels,
                            JpegParams params) {
    jpge::vector_stream stream;
    EXPECT_TRUE(EncodeJpeg(stream, width, height, channels, pixels.data(), params));
    return stream.bytes();
}

JpegParams Params(int quality, JpegSubsampling subsampling) {
    return JpegParams{quality, subsampling, false, false};
}

const char* Name(JpegSubsampling s) {
    static const char* const kNames[] = {"Y only", "H1V1", "H2V1", "H2V2"};
    return kNames[int(s)];
}

constexpr JpegSubsampling kAllSubsamplings[] = {JpegSubsampling::YOnly, JpegSubsampling::H1V1,
                                                JpegSubsampling::H2V1, JpegSubsampling::H2V2};

// Greyscale output involves no colour conversion or chroma, so the transform, quantisation,
// Huffman coding and headers must come out byte for byte as libjpeg-turbo's.
TEST(JpegEncoder, GreyMatchesLibjpegTurboByteForByte) {
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{1, 1}, Size{7, 9}, Size{17, 33}, Size{203, 77}}) {
        for (int channels : {1, 3}) {
            const auto pixels = MakePicture(size.width, size.height, channels, 3);
            for (int quality : {1, 50, 75, 100}) {
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                             " channels " + std::to_string(channels) + " quality " +
                             std::to_string(quality));
                const auto ours = Encode(pixels, size.width, size.height, channels,
                                         Params(quality, JpegSubsampling::YOnly));
                const auto theirs =
                    EncodeJpegWithTurbo(pixels, size.width, size.height, channels, 0, quality);
                EXPECT_EQ(ours, theirs);
            }
        }
    }
}

// The input as a decoder gives it back: grey from colour input in the luminance formula.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& pixels, int channels, int components) {
    std::vector<uint8_t> reference;
    for (size_t p = 0; p < pixels.size() / channels; ++p) {
        const uint8_t* px = pixels.data() + p * channels;
        if (components == 1 && channels > 1) {
            reference.push_back(
                uint8_t((19595 * px[0] + 38470 * px[1] + 7471 * px[2] + 32768) >> 16));
        } else {
            for (int c = 0; c < components; ++c) reference.push_back(px[channels == 1 ? 0 : c]);
        }
    }
    return reference;
}

double SquaredError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum;
}

// Every combination decodes cleanly and comes as close to the input as libjpeg-turbo's own file
// at the same settings. Errors are pooled over several pictures and sizes: one small picture
// alone swings by tenths of a dB either way.
TEST(JpegEncoder, DecodesStrictlyAndKeepsUpWithLibjpegTurbo) {
    struct Size {
        int width, height;
    };
    for (int channels : {1, 3, 4}) {
        for (JpegSubsampling subsampling : kAllSubsamplings) {
            for (int quality : {1, 50, 100}) {
                const std::string setting = "channels " + std::to_string(channels) + " " +
                                            Name(subsampling) + " quality " +
                                            std::to_string(quality);
                double ours = 0, theirs = 0, samples = 0;
                for (const Size size : {Size{1, 1}, Size{7, 9}, Size{17, 33}, Size{64, 48}}) {
                    for (uint64_t variant = 0; variant < 4; ++variant) {
                        SCOPED_TRACE(setting + " " + std::to_string(size.width) + "x" +
                                     std::to_string(size.height));
                        const auto pixels = MakePicture(size.width, size.height, channels, variant);
                        const auto decoded =
                            DecodeJpegStrict(Encode(pixels, size.width, size.height, channels,
                                                    Params(quality, subsampling)));
                        ASSERT_TRUE(decoded.ok) << decoded.error;
                        ASSERT_EQ(decoded.width, size.width);
                        ASSERT_EQ(decoded.height, size.height);
                        ASSERT_EQ(decoded.components,
                                  subsampling == JpegSubsampling::YOnly ? 1 : 3);
                        const auto reference = Reference(pixels, channels, decoded.components);
                        if (size.width == 1) {
                            // A single pixel is one flat block: it comes back all but exactly.
                            if (quality < 50) continue;
                            for (size_t c = 0; c < reference.size(); ++c) {
                                EXPECT_NEAR(decoded.pixels[c], reference[c], 3) << "channel " << c;
                            }
                            continue;
                        }
                        const auto peer = DecodeJpegStrict(EncodeJpegWithTurbo(
                            pixels, size.width, size.height, channels, int(subsampling), quality));
                        ASSERT_TRUE(peer.ok) << peer.error;
                        ours += SquaredError(decoded.pixels, reference);
                        theirs += SquaredError(peer.pixels, reference);
                        samples += double(reference.size());
                    }
                }
                const auto psnr = [&](double error) {
                    return error == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / error);
                };
                EXPECT_GE(psnr(ours), psnr(theirs) - 0.3) << setting;
            }
        }
    }
}

TEST(JpegEncoder, HeadersCarryTheStandardTablesInOrder) {
    const auto pixels = MakePicture(40, 24, 3, 1);
    for (int quality : {50, 100}) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        const auto ours = Encode(pixels, 40, 24, 3, Params(quality, JpegSubsampling::H2V2));
        const auto segments = ParseJpegHeaders(ours);
        std::vector<uint8_t> markers;
        for (const auto& s : segments) markers.push_back(s.marker);
        EXPECT_EQ(markers,
                  (std::vector<uint8_t>{0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
        ASSERT_EQ(segments.size(), 9u);
        EXPECT_EQ(segments[0].payload,
                  (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
        // Frame: precision 8, 24 × 40, three components, luminance sampled 2 × 2.
        EXPECT_EQ(segments[3].payload,
                  (std::vector<uint8_t>{8, 0, 24, 0, 40, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
        EXPECT_EQ(segments[8].payload,
                  (std::vector<uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
        EXPECT_EQ(ours[0], 0xFF);
        EXPECT_EQ(ours[1], 0xD8);
        EXPECT_EQ(ours[ours.size() - 2], 0xFF);
        EXPECT_EQ(ours.back(), 0xD9);

        // libjpeg-turbo writes the same quality scaling and the standard Huffman tables.
        const auto peer = ParseJpegHeaders(EncodeJpegWithTurbo(pixels, 40, 24, 3, 3, quality));
        ASSERT_EQ(peer.size(), 9u);
        for (int i : {1, 2, 4, 5, 6, 7}) {
            EXPECT_EQ(segments[i].payload, peer[i].payload) << "segment " << i;
        }
        if (quality == 100) {
            for (int i : {1, 2}) {
                EXPECT_EQ(std::vector<uint8_t>(segments[i].payload.begin() + 1,
                                               segments[i].payload.end()),
                          std::vector<uint8_t>(64, 1));
            }
        }
    }
}

TEST(JpegEncoder, WithoutChromaDiscriminationChromaUsesTheLuminanceTable) {
    const auto pixels = MakePicture(16, 16, 3, 1);
    JpegParams params = Params(50, JpegSubsampling::H1V1);
    params.noChromaDiscrimination = true;
    const auto segments = ParseJpegHeaders(Encode(pixels, 16, 16, 3, params));
    ASSERT_GE(segments.size(), 3u);
    ASSERT_EQ(segments[2].marker, 0xDB);
    EXPECT_EQ(segments[2].payload[0], 1);
    EXPECT_TRUE(std::equal(segments[1].payload.begin() + 1, segments[1].payload.end(),
                           segments[2].payload.begin() + 1));
    EXPECT_TRUE(DecodeJpegStrict(Encode(pixels, 16, 16, 3, params)).ok);
}

// Fitted tables change only the coding, never the coefficients.
TEST(JpegEncoder, TwoPassIsSmallerAndDecodesToTheSamePixels) {
    const auto pixels = MakePicture(300, 200, 3, 9);
    for (JpegSubsampling subsampling : kAllSubsamplings) {
        SCOPED_TRACE(Name(subsampling));
        JpegParams params = Params(90, subsampling);
        const auto single = Encode(pixels, 300, 200, 3, params);
        params.twoPass = true;
        const auto fitted = Encode(pixels, 300, 200, 3, params);
        EXPECT_LT(fitted.size(), single.size());
        const auto a = DecodeJpegStrict(single), b = DecodeJpegStrict(fitted);
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_EQ(a.pixels, b.pixels);
    }
}

TEST(JpegEncoder, RefusedParametersLeaveTheFileEmpty) {
    test::TempDir dir;
    const auto pixels = MakePicture(8, 8, 4, 1);
    struct Case {
        const char* what;
        int width, height, channels;
        JpegParams params;
    };
    const Case cases[] = {
        {"two channels", 8, 8, 2, Params(50, JpegSubsampling::H2V2)},
        {"zero width", 0, 8, 3, Params(50, JpegSubsampling::H2V2)},
        {"zero height", 8, 0, 3, Params(50, JpegSubsampling::H2V2)},
        {"wider than a frame allows", 70000, 1, 3, Params(50, JpegSubsampling::H2V2)},
        {"quality 0", 8, 8, 3, Params(0, JpegSubsampling::H2V2)},
        {"quality 101", 8, 8, 3, Params(101, JpegSubsampling::H2V2)},
        {"subsampling 4", 8, 8, 3, Params(50, JpegSubsampling(4))},
        {"subsampling -1", 8, 8, 3, Params(50, JpegSubsampling(-1))},
    };
    for (const Case& c : cases) {
        const std::string file = dir / (std::string(c.what) + ".jpg");
        EXPECT_FALSE(
            WriteJpegFile(file.c_str(), c.width, c.height, c.channels, pixels.data(), c.params))
            << c.what;
        EXPECT_TRUE(std::filesystem::exists(file)) << c.what;
        EXPECT_EQ(std::filesystem::file_size(file), 0u) << c.what;
    }
}

TEST(JpegEncoder, UncreatableFileGivesFalseAndNoFile) {
    test::TempDir dir;
    const auto pixels = MakePicture(8, 8, 3, 1);
    const std::string file = dir / "missing/out.jpg";
    EXPECT_FALSE(
        WriteJpegFile(file.c_str(), 8, 8, 3, pixels.data(), Params(90, JpegSubsampling::H2V2)));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(JpegEncoder, WrittenFileEqualsTheStreamedBytes) {
    test::TempDir dir;
    const auto pixels = MakePicture(33, 20, 3, 2);
    const std::string file = dir / "out.jpg";
    ASSERT_TRUE(
        WriteJpegFile(file.c_str(), 33, 20, 3, pixels.data(), Params(80, JpegSubsampling::H2V1)));
    EXPECT_EQ(test::ReadFileBytes(file),
              Encode(pixels, 33, 20, 3, Params(80, JpegSubsampling::H2V1)));
}

TEST(JpegStreams, MemoryStreamRefusesWhatDoesNotFit) {
    const auto pixels = MakePicture(64, 64, 3, 4);
    const auto expected = Encode(pixels, 64, 64, 3, Params(90, JpegSubsampling::H2V2));

    std::vector<uint8_t> buffer(expected.size());
    jpge::memory_stream exact(buffer.data(), buffer.size());
    EXPECT_TRUE(EncodeJpeg(exact, 64, 64, 3, pixels.data(), Params(90, JpegSubsampling::H2V2)));
    EXPECT_EQ(exact.size(), expected.size());
    EXPECT_EQ(buffer, expected);

    jpge::memory_stream small(buffer.data(), expected.size() - 1);
    EXPECT_FALSE(EncodeJpeg(small, 64, 64, 3, pixels.data(), Params(90, JpegSubsampling::H2V2)));
    EXPECT_LT(small.size(), expected.size());
}

TEST(JpegStreams, FileStreamLatchesAFailedWrite) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const auto pixels = MakePicture(256, 256, 3, 4);
    EXPECT_FALSE(
        WriteJpegFile("/dev/full", 256, 256, 3, pixels.data(), Params(100, JpegSubsampling::H1V1)));

    jpge::cfile_stream stream;
    ASSERT_TRUE(stream.open("/dev/full"));
    const std::vector<uint8_t> block(1 << 16, 7);
    bool accepted = true;
    for (int i = 0; i < 4 && accepted; ++i) accepted = stream.put_bytes(block.data(), block.size());
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(stream.put_bytes(block.data(), 1));  // latched
    EXPECT_FALSE(stream.close());
}

TEST(JpegEncoderSlow, FullStripDecodesToItsInput) {
    constexpr int kWidth = 18432, kHeight = 1536;
    const auto pixels = MakePicture(kWidth, kHeight, 3, 11);
    const auto ours = Encode(pixels, kWidth, kHeight, 3, Params(100, JpegSubsampling::H2V2));
    const auto decoded = DecodeJpegStrict(ours);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.width, kWidth);
    ASSERT_EQ(decoded.height, kHeight);
    const auto peer = DecodeJpegStrict(EncodeJpegWithTurbo(pixels, kWidth, kHeight, 3, 3, 100));
    EXPECT_GE(test::Psnr(decoded.pixels, pixels), test::Psnr(peer.pixels, pixels) - 0.3);
    EXPECT_GT(test::Psnr(decoded.pixels, pixels), 35.0);
}

}  // namespace
}  // namespace Korvo
