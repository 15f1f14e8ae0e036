#include "app/dump_rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cartdump {
namespace {

constexpr uint32_t kMiB = 1024 * 1024;

constexpr uint32_t kCandidates[] = {4 * kMiB,  8 * kMiB,  12 * kMiB, 16 * kMiB, 20 * kMiB,
                                    24 * kMiB, 32 * kMiB, 40 * kMiB, 48 * kMiB, 64 * kMiB};
static_assert(kCandidates[std::size(kCandidates) - 1] == kRomWindow);

struct RuleText {
  SizeRule rule;
  const char* format;
};

constexpr RuleText kRuleTexts[] = {
    {SizeRule::asked, "asked for %u MiB"},
    {SizeRule::mirror, "mirror from %u MiB"},
    {SizeRule::open_bus, "open bus from %u MiB"},
    {SizeRule::limit, "up to the %u MiB limit"},
};

}  // namespace

std::span<const uint32_t> size_candidates() { return kCandidates; }

std::string size_reason(SizeRule rule, uint32_t size) {
  const auto entry = std::ranges::find(kRuleTexts, rule, &RuleText::rule);
  char text[64];
  std::snprintf(text, sizeof text, entry->format, static_cast<unsigned>(size / kMiB));
  return text;
}

bool is_open_bus(const uint8_t* bytes, uint32_t length, uint32_t address) {
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    const uint32_t low = (address + i) & 0xFFFF;
    if (bytes[i] != (low >> 8) || bytes[i + 1] != (low & 0xFF)) return false;
  }
  return true;
}

std::string answer_problem(const uint8_t* header, uint32_t header_length, const uint8_t* first,
                           const uint8_t* second, uint32_t chunk_length, uint32_t address) {
  char text[256];
  if (std::memcmp(first, header, header_length) != 0) {
    const bool zeros = std::all_of(first, first + chunk_length, [](uint8_t b) { return b == 0; });
    std::snprintf(text, sizeof text, "the %u bytes at 0x%08X came back %s the header read from there just before",
                  static_cast<unsigned>(chunk_length), static_cast<unsigned>(address),
                  zeros ? "as zeros, unlike" : "different from");
    return text;
  }
  if (std::memcmp(first, second, chunk_length) == 0) {
    std::snprintf(text, sizeof text, "the %u bytes at 0x%08X are those at 0x%08X again",
                  static_cast<unsigned>(chunk_length), static_cast<unsigned>(address + chunk_length),
                  static_cast<unsigned>(address));
    return text;
  }
  return "";
}

}  // namespace cartdump
