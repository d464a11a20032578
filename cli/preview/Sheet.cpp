#include "cli/preview/Sheet.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>

#include "cli/ExitCodes.h"
#include "cli/key/Pixels.h"
#include "cli/preview/BitmapFont.h"

namespace kcli {
namespace {

constexpr uint8_t SHEET_GREY = 30, LABEL_GREY = 230;

OIIO::ImageBuf toBuffer(const HostImage& image) {
    OIIO::ImageBuf buf(OIIO::ImageSpec(image.width, image.height, 3, OIIO::TypeDesc::FLOAT));
    std::vector<float> rgb(static_cast<std::size_t>(image.width) * 3);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Rgba p = pixelAt(image, x, y);
            rgb[3 * x] = p.r;
            rgb[3 * x + 1] = p.g;
            rgb[3 * x + 2] = p.b;
        }
        buf.set_pixels(OIIO::ROI(0, image.width, y, y + 1, 0, 1, 0, 3), OIIO::TypeDesc::FLOAT,
                       rgb.data());
    }
    return buf;
}

}  // namespace

HostImage makeSheet(const std::vector<Panel>& panels, int width) {
    const int n = static_cast<int>(panels.size());
    const int pad = std::max(2, width / 320);
    const int panelW = n ? (width - pad * (n + 1)) / n : 0;
    if (n == 0 || panelW < 16)
        throw Failure(EXIT_BAD_INPUT, "--width: " + std::to_string(width) + " leaves no room for " +
                                          std::to_string(n) + " pictures side by side");
    const HostImage& first = *panels.front().image;
    const int panelH = std::max(
        1, static_cast<int>(std::lround(static_cast<double>(panelW) * first.height / first.width)));
    // Font pixels of about a 150th of a panel, so a label stays legible when
    // the sheet is small and in proportion when it is large.
    const int scale = std::max(1, panelW / 150);
    const int labelH = GLYPH_H * scale + 2 * pad;

    HostImage sheet;
    sheet.width = width;
    sheet.height = pad + labelH + panelH + pad;
    sheet.depth = Depth::U8;
    sheet.pixels.resize(sheet.rowBytes() * sheet.height);
    for (std::size_t i = 0; i < sheet.pixels.size(); i += 4) {
        sheet.pixels[i] = 255;
        sheet.pixels[i + 1] = sheet.pixels[i + 2] = sheet.pixels[i + 3] = SHEET_GREY;
    }

    std::vector<float> row(static_cast<std::size_t>(panelW) * 3);
    for (int i = 0; i < n; ++i) {
        const int left = pad + i * (panelW + pad);
        // A label too long for its panel is cut rather than run into the next.
        std::string label = panels[i].label;
        while (!label.empty() && textWidth(label, scale) > panelW) label.pop_back();
        drawText(sheet, left, pad, label, scale, LABEL_GREY);

        OIIO::ImageBuf scaled;
        OIIO::ImageBufAlgo::resize(scaled, toBuffer(*panels[i].image), "", 0,
                                   OIIO::ROI(0, panelW, 0, panelH, 0, 1, 0, 3));
        for (int y = 0; y < panelH; ++y) {
            scaled.get_pixels(OIIO::ROI(0, panelW, y, y + 1, 0, 1, 0, 3), OIIO::TypeDesc::FLOAT,
                              row.data());
            for (int x = 0; x < panelW; ++x)
                setPixel(sheet, left + x, pad + labelH + y,
                         {1.0f, row[3 * x], row[3 * x + 1], row[3 * x + 2]});
        }
    }
    return sheet;
}

}  // namespace kcli
