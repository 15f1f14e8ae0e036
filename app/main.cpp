// n64dump: without arguments, dumps the N64 cartridge in the reader to "Dump16M.n64" exactly as
// it always has (see dump.h); with any argument, an extended run (see extended.h and README).
#include "app/console.h"
#include "app/dump.h"
#include "app/extended.h"

int main(int argc, char** argv) {
  cartdump::console_start();
  if (argc <= 1) cartdump::dump_n64_rom();
  return cartdump::run_extended(argc, argv);
}
