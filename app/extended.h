// n64dump with arguments: an extended run. It reports on the image it dumped, or on an image file
// (--info), and never waits for a key.
#pragma once

namespace cartdump {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The image is suspect: its header checksum does not match, or the catalogue lists its MD5 as a
// bad dump or an overdump.
inline constexpr int kExitSuspect = 3;

// The whole extended run; returns its exit status.
int run_extended(int argc, const char* const* argv);

}  // namespace cartdump
