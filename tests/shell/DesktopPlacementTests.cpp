#include "TranslateMac/Shell/DisplayPlatform.h"
#include "TranslateMac/Shell/FloatingSubtitlePanel.h"

#include <gtest/gtest.h>

using namespace TranslateMac;

namespace {

struct PlatformCase {
    const char *name;
    DisplayEnvironment environment;
    std::optional<QByteArray> expected;
};

const PlatformCase platformCases[] = {
    { "WaylandSessionWithXWayland", { "wayland", "wayland-0", ":0", false }, "xcb" },
    { "WaylandDisplayWithoutSessionType", { "", "wayland-1", ":1", false }, "xcb" },
    { "SessionTypeWithoutWaylandDisplay", { "wayland", "", ":0", false }, "xcb" },
    { "UserChoseAPlatform", { "wayland", "wayland-0", ":0", true }, std::nullopt },
    { "WaylandWithoutXWayland", { "wayland", "wayland-0", "", false }, std::nullopt },
    { "X11Session", { "x11", "", ":0", false }, std::nullopt },
    { "NoSessionAtAll", { "", "", "", false }, std::nullopt },
};

class PreferredDisplayPlatform : public ::testing::TestWithParam<PlatformCase> { };

} // namespace

TEST_P(PreferredDisplayPlatform, RunsOnXWaylandOnlyWhenTheUserLeftTheChoice)
{
    const PlatformCase &c = GetParam();
    EXPECT_EQ(preferredDisplayPlatform(c.environment), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreferredDisplayPlatform, ::testing::ValuesIn(platformCases),
    [](const auto &info) { return std::string(info.param.name); });

TEST(InitialPanelGeometry, PlacesThePanelBottomCentreAboveTheAreaBottom)
{
    // A 1920 × 1080 screen whose panel bar takes the top 32 pixels.
    const QRect panel = initialPanelGeometry(QRect(0, 32, 1920, 1048));
    EXPECT_EQ(panel, QRect(960 - 350, 1080 - 55 - 200, 700, 200));
}

TEST(InitialPanelGeometry, FollowsAnAreaThatDoesNotStartAtTheOrigin)
{
    // The second of two side-by-side screens, with a dock at its bottom.
    const QRect panel = initialPanelGeometry(QRect(1920, 0, 1280, 960));
    EXPECT_EQ(panel.left(), 1920 + 640 - 350);
    EXPECT_EQ(panel.bottom() + 1, 960 - 55);
    EXPECT_EQ(panel.size(), QSize(700, 200));
}
