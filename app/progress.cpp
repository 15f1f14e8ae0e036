#include "app/progress.h"

#include <algorithm>
#include <cstdio>

#include "app/console.h"

namespace cartdump {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr auto kRedraw = std::chrono::milliseconds(100);

// "m:ss", or "h:mm:ss" from an hour on.
std::string duration_text(double seconds) {
  const auto s = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", s / 60, s % 60);
  }
  return text;
}

}  // namespace

ProgressLine::ProgressLine(bool shown) : shown_(shown) {}

std::string ProgressLine::text(const std::string& what, uint64_t done, uint64_t total, bool bound, double elapsed) {
  const double percent = total == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total);
  char line[160];
  std::snprintf(line, sizeof line, "%s%s%3.0f%%  %.1f of %s%.0f MiB", what.c_str(), what.empty() ? "" : " ", percent,
                static_cast<double>(done) / kMiB, bound ? "\xE2\x89\xA4 " : "", static_cast<double>(total) / kMiB);
  std::string out = line;
  // The rate and the time left once there is something to tell them by.
  if (elapsed >= 0.2 && done > 0) {
    const double rate = static_cast<double>(done) / elapsed;
    std::snprintf(line, sizeof line, "  %.1f MiB/s  %s left", rate / kMiB,
                  duration_text(static_cast<double>(total - std::min(done, total)) / rate).c_str());
    out += line;
  }
  return out;
}

void ProgressLine::begin(const char* what, uint64_t total, bool bound) {
  if (drawn_) end();
  what_ = what;
  total_ = total;
  bound_ = bound;
  done_ = 0;
  started_ = Clock::now();
  last_draw_ = Clock::time_point{};
  width_ = 0;
}

void ProgressLine::set_total(uint64_t total, bool bound) {
  total_ = total;
  bound_ = bound;
}

void ProgressLine::advance(uint64_t done) {
  done_ = done;
  if (shown_ && Clock::now() - last_draw_ >= kRedraw) draw();
}

void ProgressLine::end() {
  if (!shown_) return;
  draw();
  print_plain("\n");
  drawn_ = false;
  width_ = 0;
}

void ProgressLine::draw() {
  const Clock::time_point now = Clock::now();
  std::string line = text(what_, done_, total_, bound_, std::chrono::duration<double>(now - started_).count());
  const size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  print_plain("\r%s", line.c_str());
  width_ = width;
  last_draw_ = now;
  drawn_ = true;
}

}  // namespace cartdump
