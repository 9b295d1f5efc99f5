#include "properties/camera_properties.h"

#include <gtest/gtest.h>

#include "host/capability_host.h"

namespace kestrel {
namespace {

using quillon_host::CHostCapabilityResults;

// The generic part alone: a camera family whose query finds nothing.
class CBareProperties final : public CCameraPropertiesEx {
public:
    CBareProperties() : CCameraPropertiesEx(DEVICE_INFO(), 0) {}
    bool Query(unsigned*) override { return true; }
    using CCameraPropertiesEx::WriteCustomProperty;
};

TEST(CameraPropertiesTest, AddResolutionSkipsListedSizesButKeepsEveryZeroWidth) {
    CCameraProperties properties;
    properties.AddResolution(CResolution(704, 576));
    properties.AddResolution(CResolution(704, 576));  // same size: dropped
    properties.AddResolution(CResolution(704, 480));  // same width, other height: kept
    properties.AddResolution(CResolution(0, 0));
    properties.AddResolution(CResolution(0, 0));  // width 0 is never compared
    std::vector<std::pair<int, int>> sizes;
    for (CResolution* r = properties.FirstResolution(); r; r = properties.NextResolution())
        sizes.emplace_back(r->GetWidth(), r->GetHeight());
    EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{704, 576}, {704, 480}, {0, 0}, {0, 0}}));
}

TEST(CameraPropertiesTest, FrameIntervalBelowItsMinimumIsNotAdded) {
    CResolution resolution(352, 288);
    resolution.AddFrameInterval(20, 25);
    EXPECT_EQ(resolution.FirstFrameInterval(), 0u);
    resolution.AddFrameInterval(40, 25);
    resolution.AddFrameInterval(25, 25);
    EXPECT_EQ(resolution.FirstFrameInterval(), 40u);
    EXPECT_EQ(resolution.NextFrameInterval(), 25u);
    EXPECT_EQ(resolution.NextFrameInterval(), 0u);
}

TEST(CameraPropertiesTest, SaveWithoutResultsFailsAndEmptyTablesWriteTheFixedEntries) {
    CBareProperties properties;
    EXPECT_FALSE(properties.Save(nullptr));

    CHostCapabilityResults results;
    ASSERT_TRUE(properties.Save(&results));
    const auto snapshot = results.Snapshot();
    // Property 0 and the two always-written feature properties; no port counts, no codecs.
    EXPECT_EQ(snapshot.properties, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 0}, {11, 0}, {12, 0}}));
    EXPECT_TRUE(snapshot.resolutions.empty());
    EXPECT_EQ(snapshot.connectionItems.at(2), "80");
    EXPECT_EQ(snapshot.connectionItems.size(), 4u);
}

TEST(CameraPropertiesTest, CustomPropertyNeedsANameAndShowsAnEmptyValueAsNone) {
    CHostCapabilityResults results;
    CBareProperties::WriteCustomProperty(nullptr, 0, "Video standard", "1");
    CBareProperties::WriteCustomProperty(&results, 0, "", "1");
    EXPECT_EQ(results.Snapshot().calls, 0u);

    CBareProperties::WriteCustomProperty(&results, 1, "Camera series", "");
    const auto custom = results.Snapshot().customProperties.at(1);
    EXPECT_EQ(custom.name, "Camera series");
    EXPECT_EQ(custom.value, "(none)");
    EXPECT_EQ(custom.callOrder, "ntrv");  // name, type 0, read-only 0, then the value
    EXPECT_EQ(custom.valueType, 0u);
    EXPECT_EQ(custom.readOnly, 0u);
}

}  // namespace
}  // namespace kestrel
