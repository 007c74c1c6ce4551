#pragma once
// Geometry of the block diagram of the field-oriented drive in the main window: its
// clickable regions and the hover rules, as plain functions that the widget paints and
// the tests check. Coordinates are those of the window's client area at its nominal
// size, the diagram starting below the 33-pixel tool bar; the widget scales them with
// the drawing.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mas::ui {

inline constexpr int kDiagramTop = 33;     // client y of the diagram's top edge
inline constexpr int kDiagramWidth = 623;  // nominal size of the drawing
inline constexpr int kDiagramHeight = 370;
inline constexpr int kRegionCount = 10;

struct Region {
  int left, top, right, bottom;  // client coordinates; left/top inside, right/bottom outside
  std::uint32_t rgb;             // hover colour 0xRRGGBB
  bool solid;                    // filled solid instead of tinted (the machine)
  const char* element;           // what the region covers
  const char* opens;             // the handler of the command a click runs
  const char* dialog;            // the dialog it opens, if any
};

const std::array<Region, kRegionCount>& DiagramRegions();

// Whether client point (x, y) lies in region `index` (0-based).
bool RegionContains(int index, double x, double y);

// Mouse moved to (x, y): updates the hover flags and returns the regions whose flag
// changed (to be repainted), in region order.
std::vector<int> UpdateHover(std::array<bool, kRegionCount>& hover, double x, double y);

// Regions left: every hover flag cleared; returns the regions that were lit.
std::vector<int> ClearHover(std::array<bool, kRegionCount>& hover);

// The regions whose command a click at (x, y) runs, in the order the commands run:
// regions 1 or 2, 3 or 4, 5 or 6, then 7, 8, 9 and 10. A group counts once.
std::vector<int> ClickedRegions(double x, double y);

}  // namespace mas::ui
