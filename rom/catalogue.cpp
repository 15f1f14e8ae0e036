#include "rom/catalogue.h"

#include <algorithm>
#include <string_view>

namespace cartdump {
namespace {

constexpr int kMaxRefSteps = 16;

struct TagEntry {
  char first;  // the tag's first character
  RomStatus status;
};

constexpr TagEntry kTags[] = {
    {'b', RomStatus::bad},     {'o', RomStatus::overdump}, {'h', RomStatus::hack},     {'t', RomStatus::trainer},
    {'f', RomStatus::fixed},   {'p', RomStatus::pirate},   {'a', RomStatus::alternate},
};

constexpr const char* kStatusNames[] = {"listed", "verified", "alternate", "pirate", "fixed",
                                        "trainer", "hack", "overdump", "bad", "unconfirmed"};
static_assert(std::size(kStatusNames) == static_cast<size_t>(RomStatus::unconfirmed) + 1);

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_md5(std::string_view text, std::array<uint8_t, kMd5Size>& md5) {
  if (text.size() != 2 * kMd5Size) return false;
  for (size_t i = 0; i < kMd5Size; ++i) {
    const int high = hex_digit(text[2 * i]);
    const int low = hex_digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    md5[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

// One to eight hexadecimal digits.
bool parse_word(std::string_view text, uint32_t& word) {
  if (text.empty() || text.size() > 8) return false;
  word = 0;
  for (const char c : text) {
    const int digit = hex_digit(c);
    if (digit < 0) return false;
    word = word << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

bool parse_crc(std::string_view text, uint32_t& crc1, uint32_t& crc2) {
  size_t gap = 0;
  while (gap < text.size() && !is_space(text[gap])) ++gap;
  return parse_word(text.substr(0, gap), crc1) && parse_word(trim(text.substr(gap)), crc2);
}

bool parse_players(std::string_view text, uint8_t& players) {
  if (text.empty() || text.size() > 3) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 255) return false;
  players = static_cast<uint8_t>(value);
  return true;
}

bool parse_rumble(std::string_view text, uint8_t& rumble) {
  if (text != "Yes" && text != "No") return false;
  rumble = text == "Yes" ? 1 : 0;
  return true;
}

// Sets one key of a section; keys it does not know are passed over.
void set_field(RomCatalogueEntry& entry, std::string_view key, std::string_view value) {
  uint8_t given = 0;
  if (key == "GoodName") {
    entry.name.assign(value);
    given = kRomFieldName;
  } else if (key == "CRC") {
    given = parse_crc(value, entry.crc1, entry.crc2) ? kRomFieldCrc : 0;
  } else if (key == "SaveType") {
    entry.save_type.assign(value);
    given = kRomFieldSaveType;
  } else if (key == "Players") {
    given = parse_players(value, entry.players) ? kRomFieldPlayers : 0;
  } else if (key == "Rumble") {
    given = parse_rumble(value, entry.rumble) ? kRomFieldRumble : 0;
  } else if (key == "RefMD5") {
    given = parse_md5(value, entry.ref_md5) ? kRomFieldRef : 0;
  }
  entry.fields |= given;
}

bool md5_less(const RomCatalogue& catalogue, uint32_t a, uint32_t b) {
  return catalogue.entries[a].md5 < catalogue.entries[b].md5;
}

// The first entry with this MD5, or -1.
int32_t find_md5(const RomCatalogue& catalogue, const std::array<uint8_t, kMd5Size>& md5) {
  const auto at = std::lower_bound(catalogue.by_md5.begin(), catalogue.by_md5.end(), md5,
                                   [&](uint32_t index, const std::array<uint8_t, kMd5Size>& key) {
                                     return catalogue.entries[index].md5 < key;
                                   });
  if (at == catalogue.by_md5.end() || catalogue.entries[*at].md5 != md5) return -1;
  return static_cast<int32_t>(*at);
}

// Copies into entry the fields that it lacks and that source gave itself (own holds what each
// section gave before any inheritance).
void inherit(RomCatalogueEntry& entry, const RomCatalogueEntry& source, uint8_t source_own) {
  const uint8_t missing = static_cast<uint8_t>(source_own & kRomInheritedFields & ~entry.fields);
  if (missing & kRomFieldName) entry.name = source.name;
  if (missing & kRomFieldCrc) {
    entry.crc1 = source.crc1;
    entry.crc2 = source.crc2;
  }
  if (missing & kRomFieldSaveType) entry.save_type = source.save_type;
  if (missing & kRomFieldPlayers) entry.players = source.players;
  if (missing & kRomFieldRumble) entry.rumble = source.rumble;
  entry.fields |= missing;
}

void resolve_references(RomCatalogue& catalogue) {
  std::vector<uint8_t> own(catalogue.entries.size());
  for (size_t i = 0; i < own.size(); ++i) own[i] = catalogue.entries[i].fields;
  for (size_t i = 0; i < own.size(); ++i) {
    // Up the chain of references, each step filling what is still missing.
    size_t at = i;
    for (int step = 0; step < kMaxRefSteps && (own[at] & kRomFieldRef) != 0; ++step) {
      const int32_t next = find_md5(catalogue, catalogue.entries[at].ref_md5);
      if (next < 0) break;
      at = static_cast<size_t>(next);
      inherit(catalogue.entries[i], catalogue.entries[at], own[at]);
    }
  }
}

}  // namespace

uint32_t rom_catalogue_parse(const char* text, uint32_t length, RomCatalogue* catalogue) {
  catalogue->entries.clear();
  catalogue->by_md5.clear();
  std::string_view rest(text, length);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = trim(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      RomCatalogueEntry entry{};
      const size_t close = line.find(']');
      if (close != std::string_view::npos && parse_md5(trim(line.substr(1, close - 1)), entry.md5)) {
        entry.fields = kRomFieldMd5;
      }
      catalogue->entries.push_back(std::move(entry));
      continue;
    }
    const size_t equals = line.find('=');
    if (catalogue->entries.empty() || equals == std::string_view::npos) continue;
    set_field(catalogue->entries.back(), trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
  }

  for (uint32_t i = 0; i < catalogue->entries.size(); ++i) {
    if (catalogue->entries[i].fields & kRomFieldMd5) catalogue->by_md5.push_back(i);
  }
  // Stable, so that of two sections with one MD5 the first is found.
  std::stable_sort(catalogue->by_md5.begin(), catalogue->by_md5.end(),
                   [&](uint32_t a, uint32_t b) { return md5_less(*catalogue, a, b); });
  resolve_references(*catalogue);
  return static_cast<uint32_t>(catalogue->entries.size());
}

RomStatus rom_status_of_name(const char* name, uint32_t length) {
  const std::string_view text(name, length);
  RomStatus status = RomStatus::listed;
  // Each tag is what lies between a ']' and the last '[' before it (after the tag before).
  size_t from = 0;
  for (size_t close = text.find(']'); close != std::string_view::npos; close = text.find(']', close + 1)) {
    const size_t open = text.substr(from, close - from).rfind('[');
    if (open == std::string_view::npos) continue;
    const std::string_view tag = text.substr(from + open + 1, close - from - open - 1);
    from = close + 1;
    RomStatus tagged = tag == "!" ? RomStatus::verified : RomStatus::listed;
    for (const TagEntry& entry : kTags) {
      if (!tag.empty() && tag.front() == entry.first) tagged = entry.status;
    }
    status = std::max(status, tagged);
  }
  return status;
}

const char* rom_status_name(RomStatus status) {
  const auto index = static_cast<size_t>(status);
  return index < std::size(kStatusNames) ? kStatusNames[index] : "unknown";
}

RomMatchKind rom_catalogue_lookup(const RomCatalogue* catalogue, const uint8_t* md5, const uint32_t* crc_pair,
                                  RomCatalogueMatch* match) {
  *match = RomCatalogueMatch{RomMatchKind::none, RomStatus::listed, -1};
  std::array<uint8_t, kMd5Size> key{};
  std::copy_n(md5, kMd5Size, key.begin());
  if (const int32_t found = find_md5(*catalogue, key); found >= 0) {
    const RomCatalogueEntry& entry = catalogue->entries[static_cast<size_t>(found)];
    *match = {RomMatchKind::md5, rom_status_of_name(entry.name.data(), static_cast<uint32_t>(entry.name.size())),
              found};
    return match->by;
  }
  if (crc_pair == nullptr) return RomMatchKind::none;
  for (size_t i = 0; i < catalogue->entries.size(); ++i) {
    const RomCatalogueEntry& entry = catalogue->entries[i];
    if (!(entry.fields & kRomFieldCrc) || entry.crc1 != crc_pair[0] || entry.crc2 != crc_pair[1]) continue;
    const bool verified =
        rom_status_of_name(entry.name.data(), static_cast<uint32_t>(entry.name.size())) == RomStatus::verified;
    if (match->entry < 0 || verified) {
      *match = {RomMatchKind::crc, RomStatus::unconfirmed, static_cast<int32_t>(i)};
    }
    if (verified) break;
  }
  return match->by;
}

}  // namespace cartdump
