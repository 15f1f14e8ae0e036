// The progress of an extended dump: on a terminal one line, redrawn in place at most ten times a
// second, with the percentage, the MiB done of the total ("of ≤ 64" while the total is only an
// upper bound, as when --size auto is still looking for the cartridge's end), the rate and the
// time left. Where the console's stream is not a terminal it prints nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace cartdump {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // shown: whether anything is drawn at all.
  explicit ProgressLine(bool shown);

  // A new stretch of work, counted from 0: what it is (printed in front, "" for nothing), its total
  // in bytes, and whether that total is only an upper bound.
  void begin(const char* what, uint64_t total, bool bound);
  void set_total(uint64_t total, bool bound);
  // done bytes of the stretch are done; redraws when the last drawing is 100 ms old.
  void advance(uint64_t done);
  // Draws the last state and ends the line.
  void end();

  // The line's text for done bytes of total after elapsed seconds (without the carriage return).
  static std::string text(const std::string& what, uint64_t done, uint64_t total, bool bound, double elapsed);

 private:
  void draw();

  bool shown_;
  bool drawn_ = false;  // the current line has been drawn
  std::string what_;
  uint64_t total_ = 0;
  bool bound_ = false;
  uint64_t done_ = 0;
  Clock::time_point started_{};
  Clock::time_point last_draw_{};
  size_t width_ = 0;  // the length of the line drawn last, blanked out by a shorter one
};

}  // namespace cartdump
