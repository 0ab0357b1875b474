#include "engine/DetectionMask.h"

#include "types/Exception.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

std::string Trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

[[noreturn]] void Fault(int lineNumber, const std::string& why) {
    throw EInvalidOperation("Mask line " + std::to_string(lineNumber) + ": " + why);
}

TMaskPolygon ParsePolygon(const std::string& line, int lineNumber) {
    TMaskPolygon polygon;
    std::istringstream pairs(line);
    std::string pair;
    while (pairs >> pair) {
        const auto comma = pair.find(',');
        TMaskPoint point;
        std::istringstream x(pair.substr(0, comma));
        std::istringstream y(comma == std::string::npos ? "" : pair.substr(comma + 1));
        if (!(x >> point.X) || !(y >> point.Y) || !x.eof() || !y.eof() || !std::isfinite(point.X) ||
            !std::isfinite(point.Y)) {
            Fault(lineNumber, "\"" + pair + "\" is not an x,y pair");
        }
        polygon.push_back(point);
    }
    if (polygon.size() < 3) {
        Fault(lineNumber, "a polygon needs at least 3 points");
    }
    return polygon;
}

// The x positions where the polygon's edges cross the row of centres at y.
void Crossings(const TMaskPolygon& polygon, double y, std::vector<double>& xs) {
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const TMaskPoint& a = polygon[i];
        const TMaskPoint& b = polygon[j];
        if ((a.Y > y) != (b.Y > y)) {
            xs.push_back(a.X + (y - a.Y) * (b.X - a.X) / (b.Y - a.Y));
        }
    }
}

} // namespace

TDetectionMask ParseMask(const std::string& text) {
    TDetectionMask mask;
    std::string joined = text;
    std::replace(joined.begin(), joined.end(), ';', '\n');
    std::istringstream lines(joined);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        line = Trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line == "ignore") {
            mask.Mode = TMaskMode::Ignore;
        } else if (line == "watch") {
            mask.Mode = TMaskMode::WatchOnly;
        } else {
            mask.Polygons.push_back(ParsePolygon(line, lineNumber));
        }
    }
    return mask;
}

std::string MaskText(const TDetectionMask& mask) {
    std::ostringstream text;
    text << (mask.Mode == TMaskMode::Ignore ? "ignore" : "watch") << '\n';
    for (const TMaskPolygon& polygon : mask.Polygons) {
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            text << (i == 0 ? "" : " ") << polygon[i].X << ',' << polygon[i].Y;
        }
        text << '\n';
    }
    return text.str();
}

std::int64_t RasteriseMask(const TDetectionMask& mask, int width, int height,
                           std::vector<std::uint8_t>& pixels) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const std::uint8_t inside = mask.Mode == TMaskMode::Ignore ? 0 : 1;
    pixels.assign(std::size_t(width) * height, static_cast<std::uint8_t>(1 - inside));
    std::vector<double> xs;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = pixels.data() + std::size_t(y) * width;
        const double centreY = (y + 0.5) / height;
        for (const TMaskPolygon& polygon : mask.Polygons) {
            xs.clear();
            Crossings(polygon, centreY, xs);
            std::sort(xs.begin(), xs.end());
            for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
                // Pixels whose centre (x + 0.5) / width lies in [xs[k], xs[k+1]).
                const double first = std::ceil(xs[k] * width - 0.5);
                const double end = std::ceil(xs[k + 1] * width - 0.5);
                const int from = static_cast<int>(std::clamp(first, 0.0, double(width)));
                const int to = static_cast<int>(std::clamp(end, 0.0, double(width)));
                std::fill(row + from, row + std::max(from, to), inside);
            }
        }
    }
    return std::count(pixels.begin(), pixels.end(), std::uint8_t{1});
}
