#include "app/image_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

namespace cartdump {
namespace {

using Json = nlohmann::ordered_json;

constexpr size_t kScratchSize = 64 * 1024;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct OrderText {
  RomByteOrder order;
  const char* text;
};

constexpr OrderText kOrderTexts[] = {
    {RomByteOrder::big, "big-endian"},
    {RomByteOrder::byteswapped, "byte-swapped"},
    {RomByteOrder::little, "little-endian"},
    {RomByteOrder::wordswapped, "word-swapped"},
    {RomByteOrder::unknown, "no byte order mark, read as big-endian"},
};

const char* order_text(RomByteOrder order) {
  for (const OrderText& entry : kOrderTexts) {
    if (entry.order == order) return entry.text;
  }
  return "?";
}

std::string hex_word(uint32_t word) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(word));
  return text;
}

template <size_t N>
std::string hex_bytes(const std::array<uint8_t, N>& bytes) {
  char text[2 * N + 1];
  rom_hex(bytes.data(), static_cast<uint32_t>(N), text);
  return text;
}

std::string word_pair(uint32_t crc1, uint32_t crc2) { return hex_word(crc1) + " " + hex_word(crc2); }

const RomCatalogueEntry* matched_entry(const RomReport& report, const CatalogueSource& catalogue) {
  if (!catalogue.loaded || report.catalogue.entry < 0) return nullptr;
  return &catalogue.catalogue.entries[static_cast<size_t>(report.catalogue.entry)];
}

ReportLine checksum_line(const RomReport& report) {
  const RomCheck& check = report.check;
  switch (check.state) {
    case RomCheckState::matches:
      return {"Checksum", word_pair(check.crc1_computed, check.crc2_computed) + " matches (" +
                              rom_family_label(check.matched) + ")",
              ConsoleColor::notice};
    case RomCheckState::differs: {
      std::string text = "DOES NOT MATCH: the header has " + word_pair(report.header.crc1, report.header.crc2) +
                         ", the " + rom_family_label(check.computed_family) + " computation gives " +
                         word_pair(check.crc1_computed, check.crc2_computed);
      if (check.cic == RomCic::unknown) text += "; no computation gives the header's words";
      return {"Checksum", text, ConsoleColor::error};
    }
    case RomCheckState::too_short:
      break;
  }
  return {"Checksum", "not checked: the image is too short to check", ConsoleColor::current};
}

ReportLine catalogue_line(const RomReport& report, const CatalogueSource& catalogue) {
  if (!catalogue.loaded) {
    if (catalogue.path.empty()) return {"Catalogue", "none", ConsoleColor::current};
    return {"Catalogue", "none (" + terminal_text(catalogue.path) + ": " + catalogue.problem + ")",
            ConsoleColor::current};
  }
  const RomCatalogueEntry* entry = matched_entry(report, catalogue);
  if (entry == nullptr) return {"Catalogue", "not listed", ConsoleColor::current};
  const std::string name = terminal_text(entry->name);
  if (report.catalogue.by == RomMatchKind::crc) {
    return {"Catalogue",
            "unconfirmed: the header names " + name +
                ", but the image matches no known dump of it; the dump may be bad or may be the wrong size",
            ConsoleColor::error};
  }
  const RomStatus status = report.catalogue.status;
  std::string text = name + ": " + rom_status_name(status);
  if (entry->fields & kRomFieldSaveType) text += ", save type " + terminal_text(entry->save_type);
  const ConsoleColor color = status == RomStatus::verified ? ConsoleColor::notice
                             : status == RomStatus::bad || status == RomStatus::overdump ? ConsoleColor::error
                                                                                        : ConsoleColor::current;
  return {"Catalogue", text, color};
}

ReportLine verified_line(const DumpFacts& dump) {
  if (!dump.verified) return {"Verified", "no: every chunk was read once (--verify reads twice)", ConsoleColor::current};
  const std::string rereads = std::to_string(dump.reread_chunks) + (dump.reread_chunks == 1 ? " chunk" : " chunks") +
                              " needed re-reads";
  if (dump.unstable.empty()) {
    return {"Verified", "every chunk read twice and agreed; " + rereads, ConsoleColor::notice};
  }
  std::string text = std::to_string(dump.unstable.size()) + (dump.unstable.size() == 1 ? " chunk" : " chunks") +
                     " never read the same twice in a row, at device address" +
                     (dump.unstable.size() == 1 ? "" : "es");
  for (size_t i = 0; i < dump.unstable.size(); ++i) {
    text += (i == 0 ? " 0x" : ", 0x") + hex_word(dump.unstable[i]);
  }
  return {"Verified", text + "; " + rereads, ConsoleColor::error};
}

std::string size_text(uint64_t size) {
  std::string text = std::to_string(size) + " bytes";
  if (size != 0 && size % kMiB == 0) text += " (" + std::to_string(size / kMiB) + " MiB)";
  return text;
}

Json nullable(bool present, Json value) { return present ? std::move(value) : Json(nullptr); }

Json nullable_text(const char* text) { return text != nullptr ? Json(text) : Json(nullptr); }

}  // namespace

ImageScanner::ImageScanner(RomByteOrder order) : order_(order), scratch_(kScratchSize) {
  rom_hash_begin(&hashes_);
  hashing_ = true;
}

ImageScanner::~ImageScanner() {
  if (hashing_) {
    RomHashes ignored{};
    rom_hash_end(&hashes_, &ignored);
  }
}

void ImageScanner::add(const uint8_t* data, size_t length) {
  size_ += length;
  while (length > 0) {
    if (pending_length_ > 0 || length < 4) {
      const size_t n = std::min<size_t>(4 - pending_length_, length);
      std::memcpy(pending_.data() + pending_length_, data, n);
      pending_length_ += static_cast<uint32_t>(n);
      data += n;
      length -= n;
      if (pending_length_ == 4) {
        rom_convert_order(pending_.data(), 4, order_);
        take_big(pending_.data(), 4);
        pending_length_ = 0;
      }
      continue;
    }
    const size_t whole = std::min(length & ~size_t{3}, scratch_.size());
    std::memcpy(scratch_.data(), data, whole);
    rom_convert_order(scratch_.data(), static_cast<uint32_t>(whole), order_);
    take_big(scratch_.data(), static_cast<uint32_t>(whole));
    data += whole;
    length -= whole;
  }
}

void ImageScanner::take_big(const uint8_t* data, uint32_t length) {
  rom_hash_update(&hashes_, data, length);
  if (start_.size() < kRomStartLength) {
    start_.insert(start_.end(), data, data + std::min<size_t>(length, kRomStartLength - start_.size()));
  }
}

void ImageScanner::finish(const RomCatalogue* catalogue, RomReport& report) {
  // A last piece of a word is taken as it is.
  take_big(pending_.data(), pending_length_);
  pending_length_ = 0;
  RomHashes hashes{};
  rom_hash_end(&hashes_, &hashes);
  hashing_ = false;
  rom_report_build(size_, order_, &hashes, start_.data(), static_cast<uint32_t>(start_.size()), catalogue, &report);
}

bool load_catalogue(const std::string& path, CatalogueSource& source) {
  source.path = path;
  source.loaded = false;
  const auto close = [](std::FILE* f) { std::fclose(f); };
  const std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(path.c_str(), "rb"), close);
  if (!file) {
    source.problem = std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, n);
    if (text.size() > UINT32_MAX) {
      source.problem = "too large for a catalogue";
      return false;
    }
  }
  if (std::ferror(file.get())) {
    source.problem = std::strerror(errno);
    return false;
  }
  rom_catalogue_parse(text.data(), static_cast<uint32_t>(text.size()), &source.catalogue);
  source.loaded = true;
  source.problem.clear();
  return true;
}

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // The sequence's length, the lead byte's bits and the least code point that needs it.
    size_t n = 0;
    uint32_t code_point = 0;
    uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      n = 2, code_point = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      n = 3, code_point = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      n = 4, code_point = lead & 0x07u, least = 0x10000;
    }
    bool valid = n != 0 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code_point = code_point << 6 | (next & 0x3Fu);
    }
    valid = valid && code_point >= least && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
    if (valid) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string terminal_text(std::string_view text) {
  const std::string valid = valid_utf8(text);
  std::string out;
  out.reserve(valid.size());
  for (size_t i = 0; i < valid.size(); ++i) {
    const auto c = static_cast<uint8_t>(valid[i]);
    if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else if (c == 0xC2 && i + 1 < valid.size() && static_cast<uint8_t>(valid[i + 1]) < 0xA0) {
      out += '?';  // U+0080 to U+009F, the C1 controls
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<ReportLine> report_lines(const RomReport& report, const CatalogueSource& catalogue,
                                     const DumpFacts* dump) {
  const RomHeader& header = report.header;
  std::vector<ReportLine> lines;
  if (report.has_header) {
    lines.push_back({"Title", terminal_text({header.title, header.title_length}), ConsoleColor::current});
    lines.push_back({"Game id", terminal_text({header.game_id, header.game_id_length}) + ", " +
                                    rom_region_name(header.region),
                     ConsoleColor::current});
    lines.push_back({"Version", std::to_string(header.version), ConsoleColor::current});
  } else {
    lines.push_back({"Header", "none: the image is shorter than its header", ConsoleColor::error});
  }
  const char* cic = rom_cic_label(report.check.cic);
  lines.push_back({"Boot code", cic != nullptr ? cic : "unknown", ConsoleColor::current});
  lines.push_back(checksum_line(report));
  lines.push_back({"Size", size_text(report.size) + ", " + order_text(report.order), ConsoleColor::current});
  lines.push_back({"CRC-32", hex_word(report.hashes.crc32), ConsoleColor::current});
  lines.push_back({"MD5", hex_bytes(report.hashes.md5), ConsoleColor::current});
  lines.push_back({"SHA-1", hex_bytes(report.hashes.sha1), ConsoleColor::current});
  lines.push_back({"SHA-256", hex_bytes(report.hashes.sha256), ConsoleColor::current});
  lines.push_back(catalogue_line(report, catalogue));
  if (dump != nullptr) {
    lines.push_back({"Sized by", dump->size_reason, ConsoleColor::current});
    lines.push_back(verified_line(*dump));
  }
  return lines;
}

void print_report(const std::vector<ReportLine>& lines) {
  size_t width = 0;
  for (const ReportLine& line : lines) width = std::max(width, line.label.size());
  for (const ReportLine& line : lines) {
    print_plain("%s%s  ", line.label.c_str(), std::string(width - line.label.size(), ' ').c_str());
    // Plain text goes through the standard library, which has no length limit; a coloured
    // message is cut at its buffer.
    if (line.color == ConsoleColor::current) {
      print_plain("%s\n", line.text.c_str());
    } else if (line.color == ConsoleColor::error) {
      print_error("%s\n", line.text.c_str());
    } else {
      print_notice("%s\n", line.text.c_str());
    }
  }
}

std::string report_json(const RomReport& report, const CatalogueSource& catalogue, const DumpFacts* dump) {
  const RomHeader& header = report.header;
  const RomCheck& check = report.check;
  const bool header_present = report.has_header != 0;
  const bool computed = check.computed_family != RomChecksumFamily::none;
  Json json;
  json["size"] = report.size;
  json["byte_order"] = nullable(report.order != RomByteOrder::unknown, rom_byte_order_name(report.order));
  json["title"] = nullable(header_present, std::string(header.title, header.title_length));
  json["game_id"] = nullable(header_present, std::string(header.game_id, header.game_id_length));
  json["region"] = nullable(header_present, rom_region_name(header.region));
  json["version"] = nullable(header_present, header.version);
  json["cic"] = nullable_text(rom_cic_name(check.cic));
  json["checksum_family"] = nullable_text(rom_family_name(check.matched));
  json["crc1"] = nullable(header_present, hex_word(header.crc1));
  json["crc2"] = nullable(header_present, hex_word(header.crc2));
  json["crc1_computed"] = nullable(computed, hex_word(check.crc1_computed));
  json["crc2_computed"] = nullable(computed, hex_word(check.crc2_computed));
  json["checksum_ok"] = nullable(check.state != RomCheckState::too_short, check.state == RomCheckState::matches);
  json["crc32"] = hex_word(report.hashes.crc32);
  json["md5"] = hex_bytes(report.hashes.md5);
  json["sha1"] = hex_bytes(report.hashes.sha1);
  json["sha256"] = hex_bytes(report.hashes.sha256);
  json["catalogue"] = nullptr;
  if (const RomCatalogueEntry* entry = matched_entry(report, catalogue)) {
    json["catalogue"] = Json{
        {"name", valid_utf8(entry->name)},
        {"status", rom_status_name(report.catalogue.status)},
        {"save_type", nullable((entry->fields & kRomFieldSaveType) != 0, valid_utf8(entry->save_type))},
        {"matched_by", report.catalogue.by == RomMatchKind::md5 ? "md5" : "crc"},
    };
  }
  if (dump != nullptr) {
    json["output"] = valid_utf8(dump->output);
    json["size_reason"] = dump->size_reason;
    json["verified"] = dump->verified;
    json["reread_chunks"] = dump->reread_chunks;
    json["unstable"] = dump->unstable;
  }
  return json.dump(2);
}

}  // namespace cartdump
