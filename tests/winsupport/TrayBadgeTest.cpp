// SPDX-License-Identifier: GPL-3.0-or-later
// The new-mail count drawn over the tray icon's picture at the tray's sizes.
#include "winsupport/TrayBadge.h"

#include <QPixmap>
#include <gtest/gtest.h>

namespace postlark {
namespace {

// A picture with detail everywhere, as an envelope has: stripes of two blues.
QImage Plain(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            image.setPixel(x, y, (x + y) % 4 < 2 ? qRgb(30, 60, 160) : qRgb(90, 140, 220));
    return image;
}

TEST(TrayBadge, TheTextIsTheCountUpTo99) {
    EXPECT_EQ(TrayBadgeText(1), "1");
    EXPECT_EQ(TrayBadgeText(42), "42");
    EXPECT_EQ(TrayBadgeText(99), "99");
    EXPECT_EQ(TrayBadgeText(100), "99+");
    EXPECT_EQ(TrayBadgeText(120), "99+");
}

// For each tray size: the picture changes, only inside the badge, which fits on the picture,
// and the digits (white on the badge) stand at least five pixels tall.
TEST(TrayBadge, DigitsAreDrawnInsideTheBadgeAndLegibleAtTraySizes) {
    for (const int size : {16, 22, 24}) {
        const QImage plain = Plain(size);
        for (const int count : {1, 9, 42, 120}) {
            SCOPED_TRACE(testing::Message() << size << " px, count " << count);
            const QImage counted = DrawTrayBadge(plain, size, count);
            ASSERT_EQ(counted.size(), QSize(size, size));
            const QRect badge = TrayBadgeRect(size, TrayBadgeText(count));
            EXPECT_TRUE(QRect(0, 0, size, size).contains(badge));
            int changed = 0, outside = 0, top = size, bottom = -1;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    if (counted.pixel(x, y) == plain.pixel(x, y))
                        continue;
                    ++changed;
                    if (!badge.contains(x, y))
                        ++outside;
                    // Digit pixels: white, away from the badge's outline.
                    if (counted.pixel(x, y) == qRgb(255, 255, 255) &&
                        badge.adjusted(1, 1, -1, -1).contains(x, y)) {
                        top = std::min(top, y);
                        bottom = std::max(bottom, y);
                    }
                }
            }
            EXPECT_GT(changed, 0);
            EXPECT_EQ(outside, 0);
            EXPECT_GE(bottom - top + 1, 5) << "the digits are too small to read";
        }
    }
}

TEST(TrayBadge, AboveNinetyNineTheBadgeReads99Plus) {
    const QImage plain = Plain(24);
    const QImage hundred = DrawTrayBadge(plain, 24, 100);
    EXPECT_EQ(DrawTrayBadge(plain, 24, 120), hundred);
    EXPECT_EQ(DrawTrayBadge(plain, 24, 5000), hundred);
    EXPECT_NE(DrawTrayBadge(plain, 24, 99), hundred);
    // "99+" is wider than "99": the plus sign is drawn too.
    EXPECT_GT(TrayBadgeRect(24, "99+").width(), TrayBadgeRect(24, "99").width());
}

TEST(TrayBadge, TheIconCarriesTheBadgeAtEveryTraySize) {
    const QIcon icon(QPixmap::fromImage(Plain(64)));
    const QIcon counted = DrawTrayBadge(icon, 7);
    for (const int size : {16, 22, 24, 32}) {
        const QImage picture = counted.pixmap(size, size).toImage();
        EXPECT_EQ(picture.size(), QSize(size, size));
        const QRect badge = TrayBadgeRect(size, "7");
        EXPECT_EQ(picture.pixelColor(badge.topLeft() + QPoint(1, 1)).red(), 0xd0)
            << size << " px: no badge where it belongs";
    }
}

} // namespace
} // namespace postlark
