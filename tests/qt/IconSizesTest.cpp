// The window icon carries the picture drawn at every size the desktop asks for, and the installed menu icons are
// made from exactly these drawings.
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include "QtWindowSystem.h"
#include "Resources.h"
#include "resource.h"

namespace {

TEST(IconSizes, MainFrameIconHoldsEachDrawnSizeUnscaled) {
    CQtWindowSystem system;
    const auto* icon = reinterpret_cast<const QIcon*>(system.LoadIcon(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->availableSizes(),
              (QList<QSize>{QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64), QSize(128, 128)}));

    // Each size Qt hands out is the drawing of that size itself, not another size scaled; the 32-pixel one is the
    // resource's own image.
    const auto sizes = FindIconSizes(IDR_MAINFRAME);
    ASSERT_EQ(sizes.size(), 5u);
    for (const auto xpm : sizes) {
        const QImage drawn = QImage(xpm.data()).convertToFormat(QImage::Format_ARGB32);
        const QImage given = icon->pixmap(drawn.size()).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(given, drawn) << drawn.width() << " pixels";
    }
    const QImage own = QImage(FindIconResource(IDR_MAINFRAME)->xpm.data()).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(QImage(sizes[1].data()).convertToFormat(QImage::Format_ARGB32), own);

    // The drawings are the same picture: the 16-pixel one keeps the film's white sprocket holes and the yellow star.
    const QImage small = QImage(sizes[0].data());
    EXPECT_EQ(small.pixelColor(3, 2), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(small.pixelColor(6, 7), QColor(0xFF, 0xFF, 0x00));

    // An icon drawn at one size only has that size.
    const auto* program = reinterpret_cast<const QIcon*>(system.LoadIcon(IDI_PROGRAM_ICON));
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->availableSizes(), (QList<QSize>{QSize(32, 32)}));
    EXPECT_TRUE(FindIconSizes(12345).empty());
}

} // namespace
