#include "ui/diagram_geometry.h"

namespace mas::ui {

const std::array<Region, kRegionCount>& DiagramRegions() {
  static const std::array<Region, kRegionCount> kRegions = {{
      {100, 61, 129, 83, 0x00FFFF, false, "speed regulator", "CmOptionsReg_vitesse",
       "TDIALOG_REG_VITESSE"},
      {151, 58, 185, 84, 0x008000, false, "speed regulator limiter", "CmOptionsReg_vitesse",
       "TDIALOG_REG_VITESSE"},
      {314, 61, 342, 83, 0x00FFFF, false, "q-current regulator", "CmOptionsReg_Iqs",
       "TDIALOG_REG_IQS"},
      {364, 59, 397, 85, 0x008000, false, "q-current limiter", "CmOptionsReg_Iqs",
       "TDIALOG_REG_IQS"},
      {314, 150, 342, 173, 0x00FFFF, false, "d-current regulator", "CmOptionsReg_Ids",
       "TDIALOG_REG_IDS"},
      {364, 149, 397, 174, 0x008000, false, "d-current limiter", "CmOptionsReg_Ids",
       "TDIALOG_REG_IDS"},
      {475, 55, 509, 179, 0xFF00FF, false, "inverter", "CmOptionsOnduleur", "TDIALOG_ONDULEUR"},
      {532, 72, 611, 151, 0xFFFF00, true, "machine", "CmOptionsMachine", "TDIALOG_MACHINE"},
      {160, 238, 312, 333, 0xFF0000, false, "slip and angle computation", "CmOptionSimul",
       "TDIALOG_SIMULATION"},
      {547, 352, 622, 402, 0x008080, false, "logos", "CmAbout", ""},
  }};
  return kRegions;
}

bool RegionContains(int index, double x, double y) {
  const Region& r = DiagramRegions()[static_cast<std::size_t>(index)];
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

std::vector<int> UpdateHover(std::array<bool, kRegionCount>& hover, double x, double y) {
  std::vector<int> changed;
  for (int i = 0; i < kRegionCount; ++i) {
    const bool inside = RegionContains(i, x, y);
    auto& flag = hover[static_cast<std::size_t>(i)];
    if (inside != flag) {
      flag = inside;
      changed.push_back(i);
    }
  }
  return changed;
}

std::vector<int> ClearHover(std::array<bool, kRegionCount>& hover) {
  std::vector<int> changed;
  for (int i = 0; i < kRegionCount; ++i) {
    if (hover[static_cast<std::size_t>(i)]) changed.push_back(i);
    hover[static_cast<std::size_t>(i)] = false;
  }
  return changed;
}

std::vector<int> ClickedRegions(double x, double y) {
  std::vector<int> out;
  // Paired regions (a regulator and its limiter) open one dialog.
  static constexpr std::array<std::array<int, 2>, 7> kGroups = {
      {{0, 1}, {2, 3}, {4, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}}};
  for (const auto& group : kGroups) {
    if (RegionContains(group[0], x, y)) {
      out.push_back(group[0]);
    } else if (group[1] != group[0] && RegionContains(group[1], x, y)) {
      out.push_back(group[1]);
    }
  }
  return out;
}

}  // namespace mas::ui
