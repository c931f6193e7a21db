// The board picture of boardimage.h.
#include "boardimage.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The lines that carry star points on a board of size lines.
std::vector<int> starLines(int size)
{
    if (size < 7)
        return {};
    const int edge = size >= 12 ? 3 : 2;
    std::vector<int> lines;
    if (size >= 8)
        lines = {edge, size - 1 - edge};
    if (size % 2 == 1)
        lines.push_back(size / 2);
    return lines;
}

bool isStarPoint(int size, int x, int y)
{
    const std::vector<int> lines = starLines(size);
    const auto on = [&](int line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    if (!on(x) || !on(y))
        return false;
    // The side points of 9 and 13 (and of other small boards) are left out: only the corners and
    // the centre are marked there.
    const bool side = (x == size / 2) != (y == size / 2);
    return size % 2 == 0 || !side || size >= 15;
}

} // namespace

QImage boardImage(const quillarn::Board &board, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // Kaya wood, lit from the upper left, with a faint grain and a darker edge so that the board
    // stands out on a white background.
    QLinearGradient wood(0, 0, pixels, pixels);
    wood.setColorAt(0, QColor(0xEC, 0xC5, 0x80));
    wood.setColorAt(1, QColor(0xD6, 0xA5, 0x5E));
    painter.fillRect(image.rect(), wood);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 14; ++i) {
        const double y = pixels * (i * 0.071 + 0.02 * std::sin(i * 2.3));
        painter.setBrush(QColor(0x9C, 0x6A, 0x2C, 8 + (i * 7) % 9));
        painter.drawRect(QRectF(0, y, pixels, pixels * (0.008 + 0.01 * ((i * 5) % 3))));
    }
    const double edge = std::max(1.0, pixels / 128.0);
    painter.setPen(QPen(QColor(0x8A, 0x5E, 0x2A), edge));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(edge / 2, edge / 2, pixels - edge, pixels - edge));

    // The grid: stones at the edge keep a little wood around them. Lines fall on pixel centres
    // (odd widths) or pixel edges (even widths), so that they stay sharp at small sizes.
    const int size = board.size();
    const double cell = pixels / (size - 1 + 1.3);
    const double margin = cell * 0.65;
    const double lineWidth = std::max(1.0, std::round(cell / 18));
    const double offset = static_cast<int>(lineWidth) % 2 == 1 ? 0.5 : 0.0;
    std::vector<double> at(size);
    for (int i = 0; i < size; ++i)
        at[i] = std::floor(margin + i * cell) + offset;
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Lines a few pixels apart would darken the whole board: the closer they are, the fainter.
    // Mixed with the wood's middle colour rather than drawn translucent, which would darken the
    // crossings.
    const double ink = std::clamp(cell / 16, 0.45, 0.9);
    const auto mix = [&](int dark, int light) { return static_cast<int>(dark * ink + light * (1 - ink)); };
    const QColor lineColour(mix(0x2E, 0xE1), mix(0x20, 0xB5), mix(0x10, 0x6F));
    painter.setPen(QPen(lineColour, lineWidth, Qt::SolidLine, Qt::SquareCap));
    for (int i = 0; i < size; ++i) {
        painter.drawLine(QPointF(at[i], at.front()), QPointF(at[i], at.back()));
        painter.drawLine(QPointF(at.front(), at[i]), QPointF(at.back(), at[i]));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2E, 0x20, 0x10));
    const double star = std::max(1.3, cell * 0.14);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (isStarPoint(size, x, y) && board.at(x, y) == quillarn::Stone::None)
                painter.drawEllipse(QPointF(at[x], at[y]), star, star);
        }
    }

    // Stones with a soft shadow to the lower right and a highlight to the upper left.
    const double radius = cell * 0.48;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const quillarn::Stone stone = board.at(x, y);
            if (stone == quillarn::Stone::None)
                continue;
            const QPointF centre(at[x], at[y]);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x40, 0x28, 0x10, 70));
            painter.drawEllipse(centre + QPointF(radius * 0.12, radius * 0.16), radius, radius);
            QRadialGradient shine(centre - QPointF(radius * 0.35, radius * 0.4), radius * 1.4);
            if (stone == quillarn::Stone::Black) {
                shine.setColorAt(0, QColor(0x6A, 0x6A, 0x6A));
                shine.setColorAt(0.45, QColor(0x1C, 0x1C, 0x1C));
                shine.setColorAt(1, QColor(0x05, 0x05, 0x05));
            } else {
                shine.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
                shine.setColorAt(0.6, QColor(0xEC, 0xEA, 0xE4));
                shine.setColorAt(1, QColor(0xB8, 0xB4, 0xAC));
                painter.setPen(QPen(QColor(0x60, 0x58, 0x50, 150), std::max(0.6, radius / 14)));
            }
            painter.setBrush(shine);
            painter.drawEllipse(centre, radius, radius);
        }
    }
    return image;
}
