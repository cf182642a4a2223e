// The host's bitmaps written to files: the same pixels written under a second name give the same
// file, and changed pixels or a changed first file are encoded afresh.
#include "standalone_host/core/bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "standalone_host/image_files/image_files.h"
#include "test_support/file_contents.h"
#include "test_support/temp_dir.h"

namespace KorvoTest {
namespace {

namespace fs = std::filesystem;

struct BitmapDeleter {
    void operator()(KorvoHost::HostBitmap* bitmap) const { bitmap->DeleteThis(); }
};

BMMRES WriteTo(KorvoHost::HostBitmap& bitmap, const fs::path& path) {
    BitmapInfo info;
    info.SetName(path.wstring().c_str());
    bitmap.OpenOutput(&info);
    return bitmap.Write(&info, BMM_SINGLEFRAME);
}

std::vector<std::uint8_t> Decoded(const fs::path& path) {
    KorvoHost::ImageRgba8 image;
    EXPECT_TRUE(KorvoHost::ReadPng(path, image)) << path;
    return image.pixels;
}

TEST(HostBitmaps, RewrittenPixelsAreEncodedAgainAndUnchangedOnesCopied) {
    TempDir temp;
    std::unique_ptr<KorvoHost::HostBitmap, BitmapDeleter> bitmap(
        new KorvoHost::HostBitmap(64, 48, BMM_TRUE_32));
    const auto pixels = bitmap->Rgba8();
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t(i * 7);
    const std::vector<std::uint8_t> first(pixels.begin(), pixels.end());

    ASSERT_EQ(WriteTo(*bitmap, temp.path() / "a.png"), BMMRES_SUCCESS);
    ASSERT_EQ(WriteTo(*bitmap, temp.path() / "b.png"), BMMRES_SUCCESS);
    EXPECT_EQ(ReadFile(temp.path() / "b.png"), ReadFile(temp.path() / "a.png"));
    EXPECT_EQ(Decoded(temp.path() / "b.png"), first);

    // New pixels are written as they are now.
    const auto again = bitmap->Rgba8();
    std::fill(again.begin(), again.begin() + 400, std::uint8_t(200));
    const std::vector<std::uint8_t> second(again.begin(), again.end());
    ASSERT_EQ(WriteTo(*bitmap, temp.path() / "c.png"), BMMRES_SUCCESS);
    EXPECT_EQ(Decoded(temp.path() / "c.png"), second);

    // A first file replaced since it was written is not copied.
    WriteFile(temp.path() / "c.png", "not a picture");
    ASSERT_EQ(WriteTo(*bitmap, temp.path() / "d.png"), BMMRES_SUCCESS);
    EXPECT_EQ(Decoded(temp.path() / "d.png"), second);

    // Another type is encoded in its own format.
    ASSERT_EQ(WriteTo(*bitmap, temp.path() / "e.jpg"), BMMRES_SUCCESS);
    KorvoHost::ImageRgba8 jpeg;
    EXPECT_TRUE(KorvoHost::ReadJpeg(temp.path() / "e.jpg", jpeg));
}

}  // namespace
}  // namespace KorvoTest
