// cartsim's command line, read without mounting anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/cartsim_options.h"

namespace cartdump::sim {
namespace {

std::string parse(std::vector<const char*> args, CartsimOptions& options) {
  args.insert(args.begin(), "cartsim");
  return parse_cartsim_options(static_cast<int>(args.size()), args.data(), options);
}

TEST(CartsimOptions, TakesEveryOption) {
  CartsimOptions o;
  ASSERT_EQ(parse({"mnt", "--rom", "c.n64", "--ready-file", "r", "--log", "l", "--name", "N", "--id",
                   "0102030405060708", "--boot", "--second-name", "S", "--latency-us", "5", "--bytes-per-sec", "7",
                   "--fail-after", "0", "--flaky-every", "9", "--direct-io", "--beyond", "mirror",
                   "--refuse-writes-after", "4", "--corrupt-every", "5", "--corrupt-at", "0x1002000", "--seed", "6",
                   "--zero-after", "3", "--lag", "--refuse-direct-io"},
                  o),
            "");
  EXPECT_EQ(o.mount_point, "mnt");
  EXPECT_EQ(o.rom_path, "c.n64");
  EXPECT_EQ(o.ready_file, "r");
  EXPECT_EQ(o.log_path, "l");
  EXPECT_EQ(o.device.name, "N");
  EXPECT_EQ(o.device.device_id, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(o.device.boot);
  EXPECT_TRUE(o.device.second_block);
  EXPECT_EQ(o.device.second_name, "S");
  EXPECT_EQ(o.latency_us, 5u);
  EXPECT_EQ(o.bytes_per_sec, 7u);
  EXPECT_EQ(o.fail_after, std::optional<uint64_t>(0));
  EXPECT_EQ(o.flaky_every, 9u);
  EXPECT_TRUE(o.direct_io);
  EXPECT_FALSE(o.help);
  EXPECT_EQ(o.device.beyond, Beyond::mirror);
  EXPECT_EQ(o.refuse_writes_after, std::optional<uint64_t>(4));
  EXPECT_EQ(o.device.n64_faults.corrupt_every, 5u);
  EXPECT_EQ(o.device.n64_faults.corrupt_at, std::optional<uint32_t>(0x1002000));
  EXPECT_EQ(o.device.n64_faults.seed, 6u);
  EXPECT_EQ(o.device.n64_faults.zero_after, std::optional<uint64_t>(3));
  EXPECT_TRUE(o.device.n64_faults.lag);
  EXPECT_TRUE(o.refuse_direct_io);

  CartsimOptions plain;
  ASSERT_EQ(parse({"--rom", "c.n64", "mnt"}, plain), "");
  EXPECT_FALSE(plain.fail_after.has_value());
  EXPECT_FALSE(plain.device.second_block);
  EXPECT_EQ(plain.flaky_every, 0u);
  EXPECT_EQ(plain.device.beyond, Beyond::fill);
  EXPECT_FALSE(plain.refuse_writes_after.has_value());
  EXPECT_FALSE(plain.device.n64_faults.lag);
}

TEST(CartsimOptions, RefusesWhatItCannotUse) {
  struct Case {
    std::vector<const char*> args;
    const char* complaint;
  };
  const Case cases[] = {
      {{"--rom", "c.n64"}, "no mount point"},
      {{"mnt"}, "no cartridge (--rom FILE)"},
      {{"mnt", "other", "--rom", "c.n64"}, "more than one mount point: other"},
      {{"mnt", "--rom"}, "--rom needs a value"},
      {{"mnt", "--rom", "c.n64", "--speed", "3"}, "unknown option: --speed"},
      {{"mnt", "--rom", "c.n64", "--id", "0102030405060708FF"}, "--id takes 16 hex digits: 0102030405060708FF"},
      {{"mnt", "--rom", "c.n64", "--id", "01020304050607xx"}, "--id takes 16 hex digits: 01020304050607xx"},
      {{"mnt", "--rom", "c.n64", "--latency-us", "-1"}, "not a count: -1"},
      {{"mnt", "--rom", "c.n64", "--fail-after", "3x"}, "not a count: 3x"},
      {{"mnt", "--rom", "c.n64", "--flaky-every", "0"}, "not a count of at least 1: 0"},
      {{"mnt", "--rom", "c.n64", "--bytes-per-sec", "0"}, "not a count of at least 1: 0"},
      {{"mnt", "--rom", "c.n64", "--beyond", "zeros"}, "--beyond takes mirror, openbus or fill: zeros"},
      {{"mnt", "--rom", "c.n64", "--corrupt-at", "0x100000000"}, "not a 32-bit address: 0x100000000"},
      {{"mnt", "--rom", "c.n64", "--corrupt-every", "0"}, "not a count of at least 1: 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.complaint);
    CartsimOptions o;
    EXPECT_EQ(parse(c.args, o), c.complaint);
  }
}

TEST(CartsimOptions, EintrAfterTakesACountFromZero) {
  CartsimOptions o;
  ASSERT_EQ(parse({"mnt", "--rom", "c.n64", "--eintr-after", "0"}, o), "");
  EXPECT_EQ(o.eintr_after, std::optional<uint64_t>(0));
  CartsimOptions plain;
  ASSERT_EQ(parse({"mnt", "--rom", "c.n64"}, plain), "");
  EXPECT_FALSE(plain.eintr_after.has_value());
  CartsimOptions bad;
  EXPECT_EQ(parse({"mnt", "--rom", "c.n64", "--eintr-after", "x"}, bad), "not a count: x");
}

TEST(CartsimOptions, HelpNeedsNothingElse) {
  CartsimOptions o;
  EXPECT_EQ(parse({"--help"}, o), "");
  EXPECT_TRUE(o.help);
}

}  // namespace
}  // namespace cartdump::sim
