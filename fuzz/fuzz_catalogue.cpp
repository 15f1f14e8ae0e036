// The cartridge catalogue parser over any text (a damaged file, another program's ini, anything a
// user names with --catalogue), compared with a plain reading of the format:
//   - one entry per line whose first character after blanks is '[', in the file's order;
//   - an entry's MD5 is there exactly when its section name, trimmed, is 32 hexadecimal digits;
//     every such entry is found by its MD5, as the first entry with it;
//   - the index by MD5 is sorted and holds exactly the entries with an MD5;
//   - the status of every name is what a character-by-character reading of its tags gives;
//   - an entry whose chain of references ends in a missing section has every field the section
//     it refers to has (inheritance reaches as far along the chain as the referred one's does);
//   - a match by the CRC pair alone names an entry with that pair, as unconfirmed;
//   - the same text parsed again gives the same catalogue.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "fuzz/support/fuzz_check.h"
#include "rom/catalogue.h"

namespace {

using cartdump::RomCatalogue;
using cartdump::RomCatalogueEntry;
using cartdump::RomCatalogueMatch;
using cartdump::RomMatchKind;
using cartdump::RomStatus;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

size_t sections_in(std::string_view text) {
  size_t sections = 0;
  bool line_start = true;
  bool seen = false;  // a character other than a blank on this line
  for (const char c : text) {
    if (c == '\n') {
      line_start = true;
      seen = false;
      continue;
    }
    if (line_start && !seen && !blank(c)) {
      sections += c == '[';
      seen = true;
    }
  }
  return sections;
}

// The tags read one character at a time: '[' opens a tag (dropping one still open), ']' closes it.
RomStatus plain_status(const std::string& name) {
  RomStatus status = RomStatus::listed;
  bool open = false;
  std::string tag;
  for (const char c : name) {
    if (c == '[') {
      open = true;
      tag.clear();
    } else if (c == ']' && open) {
      open = false;
      RomStatus tagged = RomStatus::listed;
      if (tag == "!") tagged = RomStatus::verified;
      if (!tag.empty()) {
        switch (tag[0]) {
          case 'b': tagged = RomStatus::bad; break;
          case 'o': tagged = RomStatus::overdump; break;
          case 'h': tagged = RomStatus::hack; break;
          case 't': tagged = RomStatus::trainer; break;
          case 'f': tagged = RomStatus::fixed; break;
          case 'p': tagged = RomStatus::pirate; break;
          case 'a': tagged = RomStatus::alternate; break;
          default: break;
        }
      }
      status = std::max(status, tagged);
    } else if (open) {
      tag += c;
    }
  }
  return status;
}

RomStatus status_of(const RomCatalogueEntry& entry) {
  return cartdump::rom_status_of_name(entry.name.data(), static_cast<uint32_t>(entry.name.size()));
}

int32_t find(const RomCatalogue& catalogue, const std::array<uint8_t, cartdump::kMd5Size>& md5) {
  RomCatalogueMatch match{};
  return cartdump::rom_catalogue_lookup(&catalogue, md5.data(), nullptr, &match) == RomMatchKind::md5 ? match.entry
                                                                                                       : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  RomCatalogue catalogue;
  const uint32_t count = cartdump::rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &catalogue);
  FUZZ_CHECK(count == catalogue.entries.size(), "returned %u for %zu entries", count, catalogue.entries.size());
  FUZZ_CHECK(count == sections_in(text), "%u entries for %zu section lines", count, sections_in(text));

  size_t with_md5 = 0;
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    const RomCatalogueEntry& entry = catalogue.entries[i];
    FUZZ_CHECK(status_of(entry) == plain_status(entry.name), "status %d for \"%s\", plainly %d",
               static_cast<int>(status_of(entry)), entry.name.c_str(), static_cast<int>(plain_status(entry.name)));
    if (!(entry.fields & cartdump::kRomFieldMd5)) continue;
    ++with_md5;
    const int32_t found = find(catalogue, entry.md5);
    FUZZ_CHECK(found >= 0 && static_cast<size_t>(found) <= i && catalogue.entries[static_cast<size_t>(found)].md5 == entry.md5,
               "entry %zu found as %d", i, found);
    for (int32_t before = 0; before < found; ++before) {
      FUZZ_CHECK(!(catalogue.entries[static_cast<size_t>(before)].fields & cartdump::kRomFieldMd5) ||
                     catalogue.entries[static_cast<size_t>(before)].md5 != entry.md5,
                 "entry %d has the MD5 of entry %d, which was found first", before, found);
    }
  }
  FUZZ_CHECK(catalogue.by_md5.size() == with_md5, "index of %zu for %zu MD5s", catalogue.by_md5.size(), with_md5);
  for (size_t i = 1; i < catalogue.by_md5.size(); ++i) {
    FUZZ_CHECK(catalogue.entries[catalogue.by_md5[i - 1]].md5 <= catalogue.entries[catalogue.by_md5[i]].md5,
               "index out of order at %zu", i);
  }

  for (const RomCatalogueEntry& entry : catalogue.entries) {
    if (!(entry.fields & cartdump::kRomFieldRef)) continue;
    // Follow the chain; only one that ends in a missing section is sure to be followed whole.
    const RomCatalogueEntry* at = &entry;
    int steps = 0;
    for (; steps < 16 && (at->fields & cartdump::kRomFieldRef); ++steps) {
      const int32_t next = find(catalogue, at->ref_md5);
      if (next < 0) break;
      at = &catalogue.entries[static_cast<size_t>(next)];
    }
    if (steps >= 15 || find(catalogue, entry.ref_md5) < 0) continue;
    const RomCatalogueEntry& referred = catalogue.entries[static_cast<size_t>(find(catalogue, entry.ref_md5))];
    const uint8_t wanted = referred.fields & cartdump::kRomInheritedFields;
    FUZZ_CHECK((entry.fields & wanted) == wanted, "fields 0x%02X, its reference has 0x%02X", entry.fields,
               referred.fields);
  }

  // A match by the CRC pair, for an MD5 the catalogue does not hold.
  std::array<uint8_t, cartdump::kMd5Size> absent{};
  absent.fill(0x5A);
  if (find(catalogue, absent) < 0) {
    for (const RomCatalogueEntry& entry : catalogue.entries) {
      if (!(entry.fields & cartdump::kRomFieldCrc)) continue;
      const uint32_t pair[2] = {entry.crc1, entry.crc2};
      RomCatalogueMatch match{};
      const RomMatchKind kind = cartdump::rom_catalogue_lookup(&catalogue, absent.data(), pair, &match);
      FUZZ_CHECK(kind == RomMatchKind::crc && match.status == RomStatus::unconfirmed, "no CRC match");
      const RomCatalogueEntry& named = catalogue.entries[static_cast<size_t>(match.entry)];
      FUZZ_CHECK((named.fields & cartdump::kRomFieldCrc) && named.crc1 == pair[0] && named.crc2 == pair[1],
                 "the CRC match names another pair");
    }
  }

  RomCatalogue again;
  cartdump::rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &again);
  FUZZ_CHECK(again.entries.size() == catalogue.entries.size() && again.by_md5 == catalogue.by_md5,
             "a second parse differs");
  return 0;
}
