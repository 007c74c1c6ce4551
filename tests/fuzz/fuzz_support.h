#pragma once
// Helpers shared by the fuzz targets: a private scratch folder for the files the readers
// need, and a field-by-field comparison of two settings records.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/settings.h"
#include "engine/settings_fields.h"

namespace mas::fuzz {

// A folder of this process, created once (in /dev/shm when it exists, so that writing
// one file per input costs no disk traffic) and removed when the fuzzer ends normally
// (/dev/shm is memory, kept until the machine restarts). After a finding it stays.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/mas-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  // Registered once the folder's name exists, so the removal runs before that name is
  // destroyed at exit.
  [[maybe_unused]] static const int removal = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchFolder(), ignored);
  });
  return folder;
}

inline std::string ScratchPath(std::string_view name) {
  return ScratchFolder() + "/" + std::string(name);
}

// Writes `size` bytes to `path`, replacing the file.
inline void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

inline std::string ReadBytes(const std::string& path) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buf[8192];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  return text;
}

// Stops the process with a message: libFuzzer saves the input that led here.
[[noreturn]] inline void Finding(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "FINDING: %s %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Name of the first settable field whose stored value differs between a and b (reals
// compared bit for bit, so that NaN equals the same NaN), then the state of the cage's
// per-bar arrays; empty when they are the same.
inline std::string FirstDifference(SimulationSettings& a, SimulationSettings& b) {
  const auto fa = SettableFields(a);
  const auto fb = SettableFields(b);
  for (std::size_t i = 0; i < fa.size(); ++i) {
    const FieldRef& x = fa[i].ref;
    const FieldRef& y = fb[i].ref;
    bool same = true;
    switch (x.type) {
      case ValueType::kReal:
        same = std::memcmp(&x.real(), &y.real(), sizeof(double)) == 0;
        break;
      case ValueType::kInt:
      case ValueType::kIntFlag:
        same = x.integer() == y.integer();
        break;
      case ValueType::kFlag:
        same = x.flag() == y.flag();
        break;
      case ValueType::kText:
        same = x.text() == y.text();
        break;
    }
    if (!same) return std::string(x.name);
  }
  if (!SameBits(a.cage.Rb, b.cage.Rb) || !SameBits(a.cage.Re, b.cage.Re)) {
    return "cage resistances";
  }
  if (a.cage.BarreSel != b.cage.BarreSel || a.cage.LoopSel != b.cage.LoopSel ||
      a.cage.AnneauSel != b.cage.AnneauSel) {
    return "cage selections";
  }
  if (a.FileLoaded != b.FileLoaded || a.CageArraysAllocated != b.CageArraysAllocated) {
    return "state flags";
  }
  return {};
}

}  // namespace mas::fuzz
