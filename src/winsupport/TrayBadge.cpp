// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/TrayBadge.h"

#include <QPainter>
#include <QPixmap>

#include <array>

namespace postlark {

namespace {

// A bitmap font: each glyph is `height` rows of `width` bits, the leftmost pixel in the
// highest bit. Index 0-9 are the digits, 10 is "+".
struct Glyphs {
    int width;
    int height;
    std::array<std::array<unsigned char, 7>, 11> rows;
};

constexpr Glyphs kSmall{3,
                        5,
                        {{{7, 5, 5, 5, 7},
                          {2, 6, 2, 2, 7},
                          {7, 1, 7, 4, 7},
                          {7, 1, 3, 1, 7},
                          {5, 5, 7, 1, 1},
                          {7, 4, 7, 1, 7},
                          {7, 4, 7, 5, 7},
                          {7, 1, 1, 2, 2},
                          {7, 5, 7, 5, 7},
                          {7, 5, 7, 1, 7},
                          {0, 2, 7, 2, 0}}}};

constexpr Glyphs kLarge{5,
                        7,
                        {{{14, 17, 19, 21, 25, 17, 14},
                          {4, 12, 4, 4, 4, 4, 14},
                          {14, 17, 1, 2, 4, 8, 31},
                          {31, 2, 4, 2, 1, 17, 14},
                          {2, 6, 10, 18, 31, 2, 2},
                          {31, 16, 30, 1, 1, 17, 14},
                          {6, 8, 16, 30, 17, 17, 14},
                          {31, 1, 2, 4, 8, 8, 8},
                          {14, 17, 17, 14, 17, 17, 14},
                          {14, 17, 17, 15, 1, 2, 12},
                          {0, 4, 4, 31, 4, 4, 0}}}};

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};
const QColor kBadge(0xd0, 0x1f, 0x1f);
const QColor kInk(Qt::white);

// How the text is set on a picture: which glyphs, how many pixels each of their pixels takes.
struct Setting {
    const Glyphs* glyphs;
    int scale;
    int textWidth() const;
    int textHeight() const { return glyphs->height * scale; }
    int length = 0;
};

int Setting::textWidth() const {
    return (length * glyphs->width + (length - 1)) * scale;
}

// The badge's padding around the text: one ring of outline plus one of red per scale step.
int Padding(const Setting& setting) {
    return setting.scale + 1;
}

// The largest text that fits: the badge at most the picture's width and seven tenths of its
// height.
Setting Choose(int size, const QString& text) {
    Setting best{&kSmall, 1};
    best.length = int(text.size());
    for (const Glyphs* glyphs : {&kSmall, &kLarge}) {
        for (int scale = 1; scale <= 8; ++scale) {
            Setting candidate{glyphs, scale};
            candidate.length = int(text.size());
            const int pad = Padding(candidate);
            if (candidate.textWidth() + 2 * pad > size ||
                (candidate.textHeight() + 2 * pad) * 10 > size * 7)
                continue;
            if (candidate.textHeight() > best.textHeight())
                best = candidate;
        }
    }
    return best;
}

int GlyphIndex(QChar c) {
    return c == QLatin1Char('+') ? 10 : c.digitValue();
}

} // namespace

QString TrayBadgeText(int count) {
    return count > 99 ? QStringLiteral("99+") : QString::number(count);
}

QRect TrayBadgeRect(int size, const QString& text) {
    const Setting setting = Choose(size, text);
    const int pad = Padding(setting);
    const int width = setting.textWidth() + 2 * pad;
    const int height = setting.textHeight() + 2 * pad;
    return QRect(size - width, size - height, width, height);
}

QImage DrawTrayBadge(const QImage& picture, int size, int count) {
    QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.size() != QSize(size, size))
        image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (count < 1)
        return image;
    const QString text = TrayBadgeText(count);
    const Setting setting = Choose(size, text);
    const QRect badge = TrayBadgeRect(size, text);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // A light outline with its corners cut, so the badge stands out on any picture.
    painter.fillRect(badge.adjusted(1, 0, -1, 0), kInk);
    painter.fillRect(badge.adjusted(0, 1, 0, -1), kInk);
    painter.fillRect(badge.adjusted(1, 1, -1, -1), kBadge);

    const int pad = Padding(setting);
    int x = badge.left() + pad;
    const int top = badge.top() + pad;
    const Glyphs& glyphs = *setting.glyphs;
    for (const QChar c : text) {
        const auto& rows = glyphs.rows[size_t(GlyphIndex(c))];
        for (int row = 0; row < glyphs.height; ++row)
            for (int column = 0; column < glyphs.width; ++column)
                if (rows[size_t(row)] & (1 << (glyphs.width - 1 - column)))
                    painter.fillRect(x + column * setting.scale, top + row * setting.scale,
                                     setting.scale, setting.scale, kInk);
        x += (glyphs.width + 1) * setting.scale;
    }
    return image;
}

QIcon DrawTrayBadge(const QIcon& icon, int count) {
    QIcon badged;
    for (const int size : kSizes)
        badged.addPixmap(QPixmap::fromImage(
            DrawTrayBadge(icon.pixmap(QSize(size, size), 1.0).toImage(), size, count)));
    return badged;
}

} // namespace postlark
