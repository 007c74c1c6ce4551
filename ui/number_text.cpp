#include "ui/number_text.h"

#include <charconv>
#include <system_error>

namespace mas::ui {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// std::from_chars takes a leading minus but no plus sign.
std::string_view DropPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
    return text.substr(1);
  }
  return text;
}

}  // namespace

std::string FormatReal(double value, int significant) {
  char buf[64];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, significant);
  return std::string(buf, result.ptr);
}

std::optional<double> ParseReal(std::string_view text) {
  std::string_view t = DropPlus(Trim(text));
  if (t.empty()) return std::nullopt;
  // A French user types a decimal comma: one comma and no point reads as the point.
  char buf[64];
  const auto comma = t.find(',');
  if (comma != std::string_view::npos && t.find(',', comma + 1) == std::string_view::npos &&
      t.find('.') == std::string_view::npos && t.size() < sizeof buf) {
    t.copy(buf, t.size());
    buf[comma] = '.';
    t = std::string_view(buf, t.size());
  }
  double value = 0.0;
  const auto result = std::from_chars(t.data(), t.data() + t.size(), value);
  if (result.ec != std::errc() || result.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

std::optional<int> ParseInt(std::string_view text) {
  const std::string_view t = DropPlus(Trim(text));
  if (t.empty()) return std::nullopt;
  int value = 0;
  const auto result = std::from_chars(t.data(), t.data() + t.size(), value);
  if (result.ec != std::errc() || result.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

std::string NotARealMessage(std::string_view text) {
  return "'" + std::string(text) + "' n'est pas une valeur en virgule flottante correcte";
}

std::string NotAnIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' n'est pas une valeur entière correcte";
}

}  // namespace mas::ui
