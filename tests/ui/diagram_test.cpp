#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "ui/diagram_geometry.h"
#include "ui/diagram_widget.h"

namespace mas::ui {
namespace {

TEST(Diagram, RegionEdgesLeftAndTopInsideRightAndBottomOutside) {
  for (int i = 0; i < kRegionCount; ++i) {
    SCOPED_TRACE(i);
    const Region& r = DiagramRegions()[static_cast<std::size_t>(i)];
    EXPECT_TRUE(RegionContains(i, r.left, r.top));
    EXPECT_TRUE(RegionContains(i, r.right - 1, r.bottom - 1));
    EXPECT_TRUE(RegionContains(i, r.right - 0.01, r.top));
    EXPECT_FALSE(RegionContains(i, r.right, r.top));
    EXPECT_FALSE(RegionContains(i, r.left, r.bottom));
    EXPECT_FALSE(RegionContains(i, r.left - 1, r.top));
    EXPECT_FALSE(RegionContains(i, r.left, r.top - 1));
  }
}

TEST(Diagram, ClicksOpenTheDialogOfEachRegionGroup) {
  struct Case {
    double x, y;
    std::vector<int> regions;
  };
  const Case cases[] = {
      {100, 61, {0}},  {128, 82, {0}}, {151, 58, {1}},  {184, 83, {1}},  {129, 61, {}},
      {314, 61, {2}},  {396, 84, {3}}, {314, 150, {4}}, {364, 149, {5}}, {475, 55, {6}},
      {508, 178, {6}}, {509, 100, {}}, {532, 72, {7}},  {610, 150, {7}}, {160, 238, {8}},
      {311, 332, {8}}, {312, 300, {}}, {547, 352, {9}}, {621, 401, {9}}, {622, 401, {}},
      {10, 10, {}},    {400, 300, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(ClickedRegions(c.x, c.y), c.regions);
  }
  // A regulator and its limiter open the same dialog.
  const auto& r = DiagramRegions();
  for (int pair : {0, 2, 4}) {
    EXPECT_STREQ(r[static_cast<std::size_t>(pair)].dialog,
                 r[static_cast<std::size_t>(pair) + 1].dialog);
  }
}

TEST(Diagram, HoverMovesFromRegionToRegionAndClearsWhenLeaving) {
  std::array<bool, kRegionCount> hover{};
  EXPECT_EQ(UpdateHover(hover, 110, 70), std::vector<int>{0});
  EXPECT_EQ(UpdateHover(hover, 111, 71), std::vector<int>{});
  EXPECT_EQ(UpdateHover(hover, 160, 70), (std::vector<int>{0, 1}));
  EXPECT_FALSE(hover[0]);
  EXPECT_TRUE(hover[1]);
  EXPECT_EQ(UpdateHover(hover, 185, 70), std::vector<int>{1});  // right edge is outside
  EXPECT_EQ(UpdateHover(hover, 560, 100), std::vector<int>{7});
  EXPECT_EQ(ClearHover(hover), std::vector<int>{7});
  EXPECT_EQ(hover, (std::array<bool, kRegionCount>{}));
}

// The widget scales the drawing and its regions together.
TEST(Diagram, WidgetMapsMouseToRegionsAtAnyScale) {
  for (double scale : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(scale);
    DiagramWidget w;
    w.resize(static_cast<int>(kDiagramWidth * scale), static_cast<int>(kDiagramHeight * scale));
    w.show();
    QSignalSpy clicked(&w, &DiagramWidget::regionClicked);
    for (int i = 0; i < kRegionCount; ++i) {
      const Region& r = DiagramRegions()[static_cast<std::size_t>(i)];
      const QPointF inside = w.FromClient(QPointF(r.left + 2, r.top + 2));
      QTest::mouseMove(&w, inside.toPoint());
      EXPECT_TRUE(w.Hover()[static_cast<std::size_t>(i)]) << i;
      QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, inside.toPoint());
    }
    ASSERT_EQ(clicked.count(), kRegionCount);
    for (int i = 0; i < kRegionCount; ++i) EXPECT_EQ(clicked.at(i).at(0).toInt(), i);
    const QPointF outside = w.FromClient(QPointF(420, 330));
    QTest::mouseClick(&w, Qt::RightButton, Qt::ShiftModifier, outside.toPoint());
    EXPECT_EQ(clicked.count(), kRegionCount);
  }
}

}  // namespace
}  // namespace mas::ui
