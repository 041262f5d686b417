#include <QApplication>
#include <QLabel>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {

// The test executables host widgets: a label lays out and renders without a display.
TEST(WidgetHost, RendersAWidgetWithoutADisplay)
{
    ASSERT_NE(qobject_cast<QApplication *>(QCoreApplication::instance()), nullptr);
    QLabel label(QStringLiteral("字幕 subtitle"));
    label.resize(160, 40);
    const QImage image = label.grab().toImage();
    EXPECT_EQ(image.size(), QSize(160, 40) * label.devicePixelRatioF());
    // Some pixel differs from the background: the text was drawn.
    const QRgb background = image.pixel(0, 0);
    bool drawn = false;
    for (int y = 0; y < image.height() && !drawn; ++y)
        for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = image.pixel(x, y) != background;
    EXPECT_TRUE(drawn);
}

} // namespace
