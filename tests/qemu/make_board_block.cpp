// make_board_block FILE [MODEL]: writes a decoy and a valid 64-byte board
// information block to FILE, for QEMU's loader device to place in a guest's
// firmware area: the marker alone, two zero bytes, then the block (the
// simulated boards' own, sim::BoardInfoBlock), 74 bytes in all. The 64 bytes
// behind the decoy marker do not sum to 0, so a reader must go on to the
// second marker; placed at an odd address, both markers are unaligned. The
// block: model MODEL (default "NV-Q35 Test"), version "Q1.05b", date
// 2024/03/18 (month and day differ).
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "sim/firmware.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: make_board_block FILE [MODEL]\n";
    return 2;
  }
  lirrin::sim::TBoardInfo info;
  info.Model = argc == 3 ? argv[2] : "NV-Q35 Test";
  if (info.Model.size() > 32) {
    std::cerr << "make_board_block: the model name has more than 32 bytes\n";
    return 2;
  }
  info.VersionLetter = 'Q';
  info.Major = 1;
  info.Minor = 5;
  info.Suffix = 'b';
  info.Year = 2024;
  info.Month = 3;
  info.Day = 18;

  const std::vector<lirrin::u8> block = lirrin::sim::BoardInfoBlock(info);
  std::vector<lirrin::u8> image(block.begin(), block.begin() + 8);  // the marker
  image.insert(image.end(), {0, 0});
  image.insert(image.end(), block.begin(), block.end());
  lirrin::u8 decoySum = 0;
  for (std::size_t i = 0; i < block.size(); ++i) decoySum = static_cast<lirrin::u8>(decoySum + image[i]);
  if (decoySum == 0) {
    std::cerr << "make_board_block: the decoy's bytes sum to 0 for this model name\n";
    return 1;
  }
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  file.close();
  if (!file) {
    std::cerr << "make_board_block: cannot write '" << argv[1] << "'\n";
    return 1;
  }
  return 0;
}
