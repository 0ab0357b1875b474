// Every frame format reaches the same gray frame as its colours converted to
// blue-green-red and through the 24-bit gray conversion; bad views are
// refused with a message.

#include "analysis/GrayConversion.h"
#include "engine/MotionEngine.h"
#include "engine/YuvConversion.h"
#include "tests/analysis/KernelPaths.h"
#include "types/Exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// A YUV picture in I420 and NV12 layouts, with padded rows; odd sizes give a
// last chroma column and row that cover one pixel only.
struct TYuvPicture {
    int Width;
    int Height;
    int ChromaWidth;
    int ChromaHeight;
    std::vector<std::uint8_t> Y, U, V, UV;
    static constexpr int Padding = 7;

    TYuvPicture(int width, int height, unsigned seed)
        : Width(width), Height(height), ChromaWidth((width + 1) / 2),
          ChromaHeight((height + 1) / 2) {
        std::mt19937 random(seed);
        auto fill = [&](std::vector<std::uint8_t>& plane, std::size_t size) {
            plane.resize(size);
            for (auto& byte : plane) {
                byte = static_cast<std::uint8_t>(random());
            }
        };
        fill(Y, std::size_t(LumaStride()) * height);
        fill(U, std::size_t(ChromaStride()) * ChromaHeight);
        fill(V, std::size_t(ChromaStride()) * ChromaHeight);
        UV.assign(std::size_t(InterleavedStride()) * ChromaHeight, 0);
        for (int y = 0; y < ChromaHeight; ++y) {
            for (int x = 0; x < ChromaWidth; ++x) {
                UV[y * InterleavedStride() + 2 * x] = U[y * ChromaStride() + x];
                UV[y * InterleavedStride() + 2 * x + 1] = V[y * ChromaStride() + x];
            }
        }
    }
    int LumaStride() const { return Width + Padding; }
    int ChromaStride() const { return ChromaWidth + Padding; }
    int InterleavedStride() const { return 2 * ChromaWidth + Padding; }

    TFrameView I420(TYuvColors colors) const {
        return {TFrameFormat::I420,
                Width,
                Height,
                {Y.data(), U.data(), V.data()},
                {LumaStride(), ChromaStride(), ChromaStride()},
                colors};
    }
    TFrameView Nv12(TYuvColors colors) const {
        return {TFrameFormat::Nv12,
                Width,
                Height,
                {Y.data(), UV.data()},
                {LumaStride(), InterleavedStride()},
                colors};
    }

    // Pixel by pixel: the colour of (Y, U, V), then the 24-bit gray conversion.
    TBitmap ExpectedGray(TYuvColors colors) const {
        TBitmap colour;
        colour.Allocate(Width, Height, pf24bit);
        for (int y = 0; y < Height; ++y) {
            for (int x = 0; x < Width; ++x) {
                const int chroma = (y / 2) * ChromaStride() + x / 2;
                YuvToBgr(Y[y * LumaStride() + x], U[chroma], V[chroma], colors,
                         colour.ScanLine(y) + 3 * x);
            }
        }
        TBitmap gray;
        ConvertToGray(colour, gray);
        return gray;
    }
};

void ExpectSameGray(const TBitmap& got, const TBitmap& expected) {
    ASSERT_EQ(got.Width(), expected.Width());
    ASSERT_EQ(got.Height(), expected.Height());
    ASSERT_EQ(got.PixelFormat(), pf8bit);
    for (int y = 0; y < got.Height(); ++y) {
        ASSERT_EQ(std::memcmp(got.ScanLine(y), expected.ScanLine(y), got.Width()), 0)
            << "row " << y;
    }
}

TEST(FrameFormats, YuvFramesGiveTheGrayOfTheirColoursInEveryLayoutAndColourSystem) {
    const TYuvPicture picture(71, 9, 11);
    for (TYuvColors colors : {TYuvColors::Bt601Studio, TYuvColors::Bt601Full,
                              TYuvColors::Bt709Studio, TYuvColors::Bt709Full}) {
        const TBitmap expected = picture.ExpectedGray(colors);
        TMotionEngine engine;
        engine.TakeReference(picture.I420(colors));
        ExpectSameGray(engine.PreviousFrame(), expected);
        const TStepResult result = engine.Step(picture.Nv12(colors), {0, 0, false});
        ExpectSameGray(engine.PreviousFrame(), expected);
        EXPECT_EQ(result.ChangedPixels, 0) << "I420 and NV12 of one picture are equal";
    }
}

std::uint32_t Rgb32Of(const std::uint8_t bgr[3]) {
    return 0xff000000u | bgr[2] << 16 | bgr[1] << 8 | bgr[0];
}

// Every code path converts every row length, planar and interleaved chroma,
// to the colours of the one-pixel conversion (as blue-green-red bytes and as
// 32-bit pixels), up to the row's last byte.
TEST(FrameFormats, EveryPathConvertsYuvRowsToTheColoursOfSinglePixels) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> luma(80), u(40), v(40), uv(80);
    for (auto* plane : {&luma, &u, &v}) {
        for (auto& byte : *plane) {
            byte = static_cast<std::uint8_t>(random());
        }
    }
    for (std::size_t i = 0; i < u.size(); ++i) {
        uv[2 * i] = u[i];
        uv[2 * i + 1] = v[i];
    }
    for (TKernelPath path : SupportedPaths()) {
        for (TYuvColors colors : {TYuvColors::Bt601Studio, TYuvColors::Bt709Full}) {
            for (int width : {1, 7, 8, 16, 23, 79, 80}) {
                std::vector<std::uint8_t> planar(3 * width + 1, 0xAB), interleaved = planar;
                YuvRowToBgr(luma.data(), u.data(), v.data(), 1, planar.data(), width, colors, path);
                YuvRowToBgr(luma.data(), uv.data(), uv.data() + 1, 2, interleaved.data(), width,
                            colors, path);
                std::vector<std::uint32_t> planar32(width + 1, 0xABABABABu),
                    interleaved32 = planar32;
                YuvRowToRgb32(luma.data(), u.data(), v.data(), 1, planar32.data(), width, colors,
                              path);
                YuvRowToRgb32(luma.data(), uv.data(), uv.data() + 1, 2, interleaved32.data(), width,
                              colors, path);
                for (int x = 0; x < width; ++x) {
                    std::uint8_t expected[3];
                    YuvToBgr(luma[x], u[x / 2], v[x / 2], colors, expected);
                    ASSERT_EQ(std::memcmp(&planar[3 * x], expected, 3), 0)
                        << KernelPathName(path) << " width " << width << " pixel " << x;
                    ASSERT_EQ(std::memcmp(&interleaved[3 * x], expected, 3), 0)
                        << KernelPathName(path) << " width " << width << " pixel " << x;
                    ASSERT_EQ(planar32[x], Rgb32Of(expected))
                        << KernelPathName(path) << " width " << width << " pixel " << x;
                    ASSERT_EQ(interleaved32[x], Rgb32Of(expected))
                        << KernelPathName(path) << " width " << width << " pixel " << x;
                }
                EXPECT_EQ(planar[3 * width], 0xAB) << "nothing written past the row";
                EXPECT_EQ(interleaved[3 * width], 0xAB) << "nothing written past the row";
                EXPECT_EQ(planar32[width], 0xABABABABu) << "nothing written past the row";
                EXPECT_EQ(interleaved32[width], 0xABABABABu) << "nothing written past the row";
            }
        }
    }
}

// Pixels with a chroma each (samples picked for the screen, packed as
// 0x00VVUUYY) are converted in place to the colours of the one-pixel
// conversion on every path, at every count, and nothing past the last is
// touched.
TEST(FrameFormats, EveryPathConvertsPickedYuvSamplesToOpaqueColours) {
    std::mt19937 random(3);
    std::vector<std::uint32_t> samples(40);
    for (auto& sample : samples) {
        sample = static_cast<std::uint32_t>(random()) & 0xffffffu;
    }
    samples[0] = 0xffff00u; // below studio black, and the largest chroma: clamped both ways
    for (TKernelPath path : SupportedPaths()) {
        for (TYuvColors colors : {TYuvColors::Bt601Studio, TYuvColors::Bt709Full}) {
            for (int count : {1, 7, 8, 17, 40}) {
                std::vector<std::uint32_t> pixels(samples.begin(), samples.begin() + count);
                pixels.push_back(0xABABABABu);
                YuvPackedToRgb32(pixels.data(), count, colors, path);
                for (int x = 0; x < count; ++x) {
                    std::uint8_t bgr[3];
                    YuvToBgr(samples[x] & 0xff, samples[x] >> 8 & 0xff, samples[x] >> 16 & 0xff,
                             colors, bgr);
                    ASSERT_EQ(pixels[x], Rgb32Of(bgr))
                        << KernelPathName(path) << " count " << count << " pixel " << x;
                }
                EXPECT_EQ(pixels[count], 0xABABABABu) << "nothing written past the last pixel";
            }
        }
    }
}

// A row shown at half its width: every other luma sample with a chroma pair
// each, planar and interleaved, on every path and at every count, reading
// within samples that end at the last pixel's (under AddressSanitizer a read
// past them fails).
TEST(FrameFormats, EveryPathConvertsHalvedYuvRowsToTheColoursOfTheirSamples) {
    std::mt19937 random(11);
    const auto randomBytes = [&random](std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        return bytes;
    };
    for (int count : {1, 7, 8, 9, 16, 17, 40}) {
        std::vector<std::uint8_t> luma = randomBytes(2 * count - 1);
        std::vector<std::uint8_t> u = randomBytes(count), v = randomBytes(count), uv(2 * count);
        luma[0] = 0; // below studio black, and the largest chroma: clamped both ways
        u[0] = v[0] = 255;
        for (int i = 0; i < count; ++i) {
            uv[2 * i] = u[i];
            uv[2 * i + 1] = v[i];
        }
        for (TKernelPath path : SupportedPaths()) {
            for (TYuvColors colors : {TYuvColors::Bt601Studio, TYuvColors::Bt709Full}) {
                std::vector<std::uint32_t> planar(count + 1, 0xABABABABu), interleaved = planar;
                YuvHalvedRowToRgb32(luma.data(), u.data(), v.data(), 1, planar.data(), count,
                                    colors, path);
                YuvHalvedRowToRgb32(luma.data(), uv.data(), uv.data() + 1, 2, interleaved.data(),
                                    count, colors, path);
                for (int x = 0; x < count; ++x) {
                    std::uint8_t expected[3];
                    YuvToBgr(luma[2 * x], u[x], v[x], colors, expected);
                    ASSERT_EQ(planar[x], Rgb32Of(expected))
                        << KernelPathName(path) << " count " << count << " pixel " << x;
                    ASSERT_EQ(interleaved[x], Rgb32Of(expected))
                        << KernelPathName(path) << " count " << count << " pixel " << x;
                }
                EXPECT_EQ(planar[count], 0xABABABABu) << "nothing written past the last pixel";
                EXPECT_EQ(interleaved[count], 0xABABABABu) << "nothing written past the last pixel";
            }
        }
    }
}

TEST(FrameFormats, YuvColoursAtTheEndsOfTheirRanges) {
    std::uint8_t bgr[3];
    YuvToBgr(16, 128, 128, TYuvColors::Bt601Studio, bgr);
    EXPECT_EQ(bgr[0] | bgr[1] | bgr[2], 0) << "studio black";
    YuvToBgr(235, 128, 128, TYuvColors::Bt709Studio, bgr);
    EXPECT_EQ(bgr[0] & bgr[1] & bgr[2], 255) << "studio white";
    YuvToBgr(255, 128, 128, TYuvColors::Bt601Full, bgr);
    EXPECT_EQ(bgr[0] & bgr[1] & bgr[2], 255) << "full-range white";
    YuvToBgr(5, 128, 128, TYuvColors::Bt601Studio, bgr);
    EXPECT_EQ(bgr[0] | bgr[1] | bgr[2], 0) << "below black clamps";
    YuvToBgr(81, 90, 240, TYuvColors::Bt601Studio, bgr); // studio red
    EXPECT_GE(bgr[2], 254);
    EXPECT_LE(bgr[0], 1);
    EXPECT_LE(bgr[1], 1);
}

TEST(FrameFormats, GrayFramesAreTakenAsTheirLevels) {
    std::vector<std::uint8_t> levels(10 * 3);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels[i] = static_cast<std::uint8_t>(i * 8);
    }
    TMotionEngine engine;
    engine.TakeReference({TFrameFormat::Gray8, 7, 3, {levels.data()}, {10}});
    EXPECT_EQ(engine.PreviousFrame().Pixel(6, 2), 0xD0D0D0u) << "level 208";
    EXPECT_EQ(engine.PreviousFrame().Pixel(0, 1), 0x505050u) << "level 80, after a padded row";
}

TEST(FrameFormats, ViewsWithoutAPlaneOrWithShortRowsAreRefused) {
    const TYuvPicture picture(20, 4, 2);
    TFrameView noV = picture.I420(TYuvColors::Bt601Studio);
    noV.Plane[2] = nullptr;
    TFrameView shortRows = picture.Nv12(TYuvColors::Bt601Studio);
    shortRows.Stride[1] = 19;
    TFrameView shortBgr{TFrameFormat::Bgr24, 20, 4, {picture.Y.data()}, {59}};
    TMotionEngine engine;
    for (const TFrameView& view : {noV, shortRows, shortBgr}) {
        EXPECT_THROW(engine.Step(view, {}), EInvalidOperation);
    }
    try {
        engine.TakeReference(shortBgr);
        FAIL();
    } catch (const EInvalidOperation& error) {
        EXPECT_STREQ(error.what(),
                     "Frame plane 0 has rows of 59 bytes, fewer than its 60 bytes of pixels");
    }
}

} // namespace
