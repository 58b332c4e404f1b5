#pragma once
// The SMBus engine knows each host-controller family only as one record of
// short scripts plus a few numbers: how to recognise it, enable it and put it
// back, where its base port is, and which register each step of a
// transaction touches.

#include <map>
#include <vector>

#include "support/text.h"
#include "support/types.h"

namespace lirrin {

// One controller family. Result texts are run for their 32-bit result;
// action texts for their effect; prefix texts end in an open argument list
// and are completed with one operand (CompletePrefix).
struct TSMBusCfg {
  TText Name{};           // key
  TText Detect{};         // result: 0 when the family is present
  TText Init{};           // action: enable for host use, saving what it changes
  TText Base1{};          // action: base port into Local0
  TText Base2{};          // action: second channel
  TText Base3{};
  TText Base4{};
  TText Ready{};          // result: clear status, wait for idle
  TText SetAddress{};     // prefix: slave address byte with the R/W bit
  TText SetCommand{};     // prefix: command code
  TText SetBlockCount{};  // prefix
  TText SetByte{};        // prefix
  TText GetBlockCount{};  // result
  TText StartByteRead{};
  TText StartByteWrite{};
  TText WaitByte{};       // result: AND ErrorMask != 0 is a device error
  TText GetByte{};        // result
  TText StartBlockRead{};
  TText StartBlockWrite{};
  TText WaitBlock{};      // result
  TText BlockBegin{};     // action: Local9 = first block data register
  TText SetBlockByte{};   // prefix
  TText GetBlockByte{};   // result
  u8 BlockStep = 0;     // block bytes between two handshakes: 1, 8 or 32
  TText BlockHandshake{}; // result
  TText NextBlockRegister{};
  TText Restore{};        // action: write back what Init and the base text saved
  u8 ReadyValue = 0;    // low 8 bits of the Ready result when idle
  u8 ErrorMask = 0;     // device-error bits in a wait result
  u8 Spare = 0;
  TText SpareText{};
  u8 SpareValue = 0;
  TText StartWordRead{};
  TText StartWordWrite{};
  TText WaitWord{};       // result
  TText GetWordLow{};     // result
  TText GetWordHigh{};    // result
  TText SetWordLow{};     // prefix
  TText SetWordHigh{};    // prefix
};

// Families by name. std::u16string compares by UTF-16 code unit, so upper
// case sorts before lower case ("ServerWorks" before "SiS", "nVidia" last);
// detection relies on this order.
using TSMBusCfgs = std::map<TText, TSMBusCfg>;

// The built-in families, in key order.
const std::vector<TSMBusCfg>& BuiltInSMBusFamilies();

class TSMBusConfig {
 public:
  static TSMBusConfig* Instance();
  static void FreeInstance();

  TSMBusConfig();
  virtual ~TSMBusConfig() = default;

  const TSMBusCfgs& Families() const { return Table; }

 private:
  TSMBusCfgs Table;
};

// Appends one blank and `operand` in plain signed decimal: nothing else, no
// closing parenthesis (the language treats parentheses as separators).
TText CompletePrefix(const TText& prefix, i32 operand);

}  // namespace lirrin
