#include "analysis/BmpWriter.h"

#include "types/Exception.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t InfoHeaderSize = 40;
constexpr std::size_t HeadersSize = FileHeaderSize + InfoHeaderSize;

std::string FullPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

// The system's text for an error number, without trailing blanks and periods.
std::string SystemText(int error) {
    std::string text = std::generic_category().message(error);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

[[noreturn]] void Fail(const std::string& path, int error) {
    throw EFCreateError("Cannot create file \"" + FullPath(path) + "\". " + SystemText(error));
}

void Put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void PutHeaders(std::uint8_t* at, int width, int height, std::uint32_t imageSize) {
    at[0] = 'B';
    at[1] = 'M';
    Put32(at + 2, static_cast<std::uint32_t>(HeadersSize) + imageSize);
    Put32(at + 10, static_cast<std::uint32_t>(HeadersSize)); // offset of the pixels
    std::uint8_t* info = at + FileHeaderSize;
    Put32(info, static_cast<std::uint32_t>(InfoHeaderSize));
    Put32(info + 4, static_cast<std::uint32_t>(width));
    Put32(info + 8, static_cast<std::uint32_t>(height)); // positive: bottom-up rows
    Put16(info + 12, 1);                                 // planes
    Put16(info + 14, 24);                                // bits per pixel
    Put32(info + 20, imageSize);                         // uncompressed (compression 0)
}

void PutRow(const std::uint8_t* source, TPixelFormat format, std::uint8_t* target, int width) {
    if (format == pf24bit) {
        std::memcpy(target, source, 3 * static_cast<std::size_t>(width));
        return;
    }
    const int bytes = TBitmap::BytesPerPixel(format);
    for (int x = 0; x < width; ++x, source += bytes, target += 3) {
        if (bytes == 1) {
            target[0] = target[1] = target[2] = source[0];
        } else {
            std::memcpy(target, source, 3);
        }
    }
}

// The whole file in memory, or an empty vector when it would exceed the
// format's 32-bit sizes.
std::vector<std::uint8_t> FileBytes(const std::uint8_t* rows, std::size_t rowStride,
                                    TPixelFormat format, int width, int height) {
    const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    const std::size_t imageSize = stride * static_cast<std::size_t>(height);
    if (imageSize > std::numeric_limits<std::uint32_t>::max() - HeadersSize) {
        return {};
    }
    std::vector<std::uint8_t> bytes(HeadersSize + imageSize, 0);
    PutHeaders(bytes.data(), width, height, static_cast<std::uint32_t>(imageSize));
    for (int y = 0; width > 0 && y < height; ++y) {
        std::uint8_t* row = bytes.data() + HeadersSize + (height - 1 - y) * stride;
        PutRow(rows + y * rowStride, format, row, width);
    }
    return bytes;
}

// A new file next to path under a name nobody else uses; returns its
// descriptor and name, or -1 with errno set.
int CreateTemporaryFile(const std::filesystem::path& path, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (path.parent_path() / ("." + path.filename().string() + ".partial-" +
                                      std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                   .string();
        const int file = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file >= 0 || errno != EEXIST) {
            return file;
        }
    }
    return -1;
}

// Writes everything and makes it durable; returns 0 or the error number.
int WriteAll(int file, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(written);
    }
    return ::fsync(file) == 0 ? 0 : errno;
}

} // namespace

void SaveBitmapToFile(const TBitmap& bitmap, const std::string& path) {
    SaveRowsToFile(bitmap.Empty() ? nullptr : bitmap.ScanLine(0), bitmap.Stride(),
                   bitmap.PixelFormat(), bitmap.Width(), bitmap.Height(), path);
}

void SaveRowsToFile(const std::uint8_t* rows, std::size_t rowStride, TPixelFormat format, int width,
                    int height, const std::string& path) {
    const std::filesystem::path target(path);
    if (path.empty()) {
        Fail(path, ENOENT);
    }
    if (!target.has_filename()) {
        Fail(path, EISDIR);
    }
    const std::vector<std::uint8_t> bytes = FileBytes(rows, rowStride, format, width, height);
    if (bytes.empty()) {
        Fail(path, EFBIG);
    }
    std::string temporaryName;
    const int file = CreateTemporaryFile(target, temporaryName);
    if (file < 0) {
        Fail(path, errno);
    }
    int error = WriteAll(file, bytes);
    if (::close(file) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporaryName.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporaryName.c_str());
        Fail(path, error);
    }
}
