// n64dump: dumps the N64 cartridge in the reader to "Dump16M.n64". It takes no arguments.
#include "app/dump.h"

int main() { cartdump::dump_n64_rom(); }
