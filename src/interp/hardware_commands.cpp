// The commands through which a script touches the machine. Each is a thin
// layer over one operation of the I/O layer: take the arguments, check their
// ranges, call the operation (one request per access), store the value and
// print one line. A failed range check sends nothing.
#include "interp/command_variants.h"
#include "interp/interpreter.h"
#include "interp/messages.h"
#include "interp/value_format.h"

namespace lirrin {

namespace {

constexpr u32 kMaxPort = 0xFFFF;
constexpr u32 kMaxRegisterOffset = 0xFF;
constexpr u32 kMaxBus = 0xFF;
constexpr u32 kMaxDevice = 0x1F;
constexpr u32 kMaxFunction = 7;
constexpr u32 kMaxConfigOffset = 0xFF;
constexpr u32 kMemNotFound32 = 0xFFFFFFFF;
constexpr u32 kFoundDumpBytes = 256;  // FMEM shows this much from a match on
// What a search costs against the step limit: one step per bus a device
// search walks, one per 256 bytes a memory search may compare.
constexpr u32 kSearchedBuses = 256;
constexpr u32 kSearchedBytesPerStep = 256;

TText HexOfWidth(u32 value, u32 width) {
  return width == 1 ? HexByte(value) : width == 2 ? HexWord(value) : HexDword(value);
}

TText PciPrefix(bool write, bool pcie) {
  return TText(write ? u"Write " : u"Read ") + (pcie ? u"PCIE" : u"PCI") + u" Bus/Dev/Fun/Offset ";
}

TText PciLocation(u32 bus, u32 device, u32 function, u32 offset) {
  return HexByte(bus) + u"/" + HexByte(device) + u"/" + HexByte(function) + u"/" + HexByte(offset);
}

TText PciLocation(PciAddress address, u32 offset) {
  return PciLocation(PciBus(address), PciDevice(address), PciFunction(address), offset);
}

TReadWrite::TConfigSpace SpaceOf(bool pcie) {
  return pcie ? TReadWrite::TConfigSpace::Pcie : TReadWrite::TConfigSpace::Pci;
}

// A text pattern is searched as the 8-bit characters of the text, as the
// firmware strings it looks for ("_SM_", "$PnP") are stored; a character
// beyond 8 bits becomes "?", as in a conversion to the ANSI code page.
std::vector<u8> EightBitCharacters(TTextView text) {
  std::vector<u8> bytes;
  for (char16_t c : text) bytes.push_back(c <= 0xFF ? static_cast<u8>(c) : u8{'?'});
  return bytes;
}

}  // namespace

// --- Ports ---------------------------------------------------------------------

bool TInterpreter::RunPortIn(u32 width) {
  if (!FetchParams(1) || !CheckRange(Params[0], kMaxPort)) return false;
  const u16 port = static_cast<u16>(Params[0]);
  const u32 value = ReadWrite->InPort(port, width);
  StoreValue(value);
  SetMessage(u"In Port ", HexShort(port), u" = ", HexOfWidth(value, width));
  return true;
}

bool TInterpreter::RunPortOut(u32 width) {
  if (!FetchParams(2) || !CheckRange(Params[0], kMaxPort)) return false;
  const u16 port = static_cast<u16>(Params[0]);
  const u32 value = Params[1];
  ReadWrite->OutPort(port, width, value);
  SetMessage(u"Out port ", HexShort(port), u" = ", HexOfWidth(value, width));
  return true;
}

// --- Index/data port pairs -----------------------------------------------------------

bool TInterpreter::RunIndexDataIn(u32 width) {
  if (!FetchParams(3) || !CheckRange(Params[0], kMaxPort) || !CheckRange(Params[1], kMaxPort) ||
      !CheckRange(Params[2], kMaxRegisterOffset)) {
    return false;
  }
  const u16 index = static_cast<u16>(Params[0]);
  const u16 data = static_cast<u16>(Params[1]);
  const u8 offset = static_cast<u8>(Params[2]);
  const u32 value = ReadWrite->InIndexData(index, data, offset, width);
  StoreValue(value);
  SetMessage(u"In Index/Data/Offset ", HexShort(index), u"/", HexShort(data), u"/", HexByte(offset), u" = ",
             HexOfWidth(value, width));
  return true;
}

bool TInterpreter::RunIndexDataOut(u32 width) {
  if (!FetchParams(4) || !CheckRange(Params[0], kMaxPort) || !CheckRange(Params[1], kMaxPort) ||
      !CheckRange(Params[2], kMaxRegisterOffset)) {
    return false;
  }
  const u16 index = static_cast<u16>(Params[0]);
  const u16 data = static_cast<u16>(Params[1]);
  const u8 offset = static_cast<u8>(Params[2]);
  const u32 value = Params[3];
  ReadWrite->OutIndexData(index, data, offset, width, value);
  SetMessage(u"Out Index/Data/Offset ", HexShort(index), u"/", HexShort(data), u"/", HexByte(offset), u" = ",
             HexOfWidth(value, width));
  return true;
}

// --- PCI configuration space ------------------------------------------------------------

// Offsets are checked against 0xFF for the PCI Express forms too, so these
// commands stay within the conventional 256 bytes.
bool TInterpreter::RunPciRead(u32 form) {
  if (!FetchParams(4) || !CheckRange(Params[0], kMaxBus) || !CheckRange(Params[1], kMaxDevice) ||
      !CheckRange(Params[2], kMaxFunction) || !CheckRange(Params[3], kMaxConfigOffset)) {
    return false;
  }
  const bool pcie = (form & kPcieForm) != 0;
  const u32 width = form & kWidthMask;
  const u32 value = ReadWrite->ReadConfig(SpaceOf(pcie), static_cast<u8>(Params[0]), static_cast<u8>(Params[1]),
                                         static_cast<u8>(Params[2]), static_cast<u16>(Params[3]), width);
  StoreValue(value);
  SetMessage(PciPrefix(false, pcie), PciLocation(Params[0], Params[1], Params[2], Params[3]), u" = ",
             HexOfWidth(value, width));
  return true;
}

// The PCI Express forms write through the conventional mechanism as well:
// every offset they accept lies below 100h.
bool TInterpreter::RunPciWrite(u32 form) {
  if (!FetchParams(5) || !CheckRange(Params[0], kMaxBus) || !CheckRange(Params[1], kMaxDevice) ||
      !CheckRange(Params[2], kMaxFunction) || !CheckRange(Params[3], kMaxConfigOffset)) {
    return false;
  }
  const u32 width = form & kWidthMask;
  ReadWrite->WriteConfig(TReadWrite::TConfigSpace::Pci, static_cast<u8>(Params[0]), static_cast<u8>(Params[1]),
                         static_cast<u8>(Params[2]), static_cast<u16>(Params[3]), width, Params[4]);
  SetMessage(PciPrefix(true, (form & kPcieForm) != 0), PciLocation(Params[0], Params[1], Params[2], Params[3]),
             u" = ", HexOfWidth(Params[4], width));
  return true;
}

// By packed address (as FPCI and FPCICLASS yield it), without range checks:
// the PCI forms use the offset's low 8 bits, the PCI Express forms 16 bits.
bool TInterpreter::RunPackedPciRead(u32 form) {
  if (!FetchParams(2)) return false;
  const bool pcie = (form & kPcieForm) != 0;
  const u32 width = form & kWidthMask;
  const PciAddress address = static_cast<PciAddress>(Params[0]);
  const u16 offset = static_cast<u16>(pcie ? Params[1] : Params[1] & 0xFF);
  const u32 value = ReadWrite->ReadConfig(SpaceOf(pcie), address, offset, width);
  StoreValue(value);
  SetMessage(PciPrefix(false, pcie), PciLocation(address, Params[1]), u" = ", HexOfWidth(value, width));
  return true;
}

bool TInterpreter::RunPackedPciWrite(u32 form) {
  if (!FetchParams(3)) return false;
  const bool pcie = (form & kPcieForm) != 0;
  const u32 width = form & kWidthMask;
  const PciAddress address = static_cast<PciAddress>(Params[0]);
  const u16 offset = static_cast<u16>(pcie ? Params[1] : Params[1] & 0xFF);
  ReadWrite->WriteConfig(SpaceOf(pcie), address, offset, width, Params[2]);
  SetMessage(PciPrefix(true, pcie), PciLocation(address, Params[1]), u" = ", HexOfWidth(Params[2], width));
  return true;
}

// Yields the packed address of the index-th match, or 0xFFFF when none.
bool TInterpreter::RunFindPci(u32 byClass) {
  if (!FetchParams(1)) return false;
  FetchOptionalParam(1, 0);
  if (!CountSteps(kSearchedBuses)) return false;
  const u8 index = static_cast<u8>(Params[1]);
  const u32 value = byClass != 0 ? ReadWrite->FindPciClass(Params[0], index) : ReadWrite->FindPciDevice(Params[0], index);
  StoreValue(value);
  SetMessage(byClass != 0 ? u"Find PCI Class: " : u"Find PCI Device: ", HexShort(Params[0]), u" Index ",
             HexShort(Params[1]), u" = ", HexWord(value));
  return true;
}

// --- Physical memory (32-bit addresses) --------------------------------------------------

bool TInterpreter::RunMemRead(u32 width) {
  if (!FetchParams(1)) return false;
  const u32 address = Params[0];
  const u32 value = ReadWrite->ReadMemValue(address, width);
  StoreValue(value);
  SetMessage(u"Read Memory Address ", HexShort(address), u" = ", HexOfWidth(value, width));
  return true;
}

bool TInterpreter::RunMemWrite(u32 width) {
  if (!FetchParams(2)) return false;
  const u32 address = Params[0];
  const u32 value = Params[1];
  ReadWrite->WriteMemValue(address, width, value);
  SetMessage(u"Write Memory Address ", HexShort(address), u" = ", HexOfWidth(value, width));
  return true;
}

// FMEM address length step index pattern ["/S"]: the pattern is a byte list
// ("52H 53H 44H" in quotes) unless "/S" asks for its text; a pattern that is
// no byte list is searched as text too.
bool TInterpreter::RunFmem(u32) {
  const bool asText = HasFlagWord(u"/S");
  if (!FetchParams(4) || !FetchTextParams(1)) return false;
  std::vector<u8> pattern;
  if (asText || !ParseByteList(TextParams[0], pattern)) pattern = EightBitCharacters(TextParams[0]);
  if (!CountSteps(u64{Params[1]} / kSearchedBytesPerStep + 1)) return false;
  const u32 found = static_cast<u32>(ReadWrite->FindMem(Params[1], Params[2], Params[0], Params[3], pattern.data(),
                                                        static_cast<u32>(pattern.size())));
  StoreValue(found);
  SetMessage(u"Find Memory: ", HexShort(Params[0]), u", ", HexShort(Params[1]), u", ", HexShort(Params[2]), u", ",
             HexShort(Params[3]), u" - ", found == kMemNotFound32 ? TText(u"not found") : HexShort(found));
  if (found != kMemNotFound32) {
    std::vector<u8> bytes(kFoundDumpBytes, 0xFF);
    ReadWrite->ReadMem256(bytes.data(), found);
    AppendHexDump(bytes.data(), kFoundDumpBytes, Lines);
  }
  return true;
}

// --- Processor --------------------------------------------------------------------------
// These commands leave the Target slot and the result variable alone: 64-bit
// values go to LocalA (low half) and LocalB (high half), register blocks to
// LocalA..LocalD (EAX, EBX, ECX, EDX).

void TInterpreter::SplitValue64() {
  Slots[0xA] = static_cast<u32>(Value64);
  Slots[0xB] = static_cast<u32>(Value64 >> 32);
}

void TInterpreter::CopyRegsToLocals() {
  Slots[0xA] = Regs.Eax;
  Slots[0xB] = Regs.Ebx;
  Slots[0xC] = Regs.Ecx;
  Slots[0xD] = Regs.Edx;
}

// Binds the whole process to processor n (1-based); later commands of every
// kind run there, also after the script.
bool TInterpreter::RunCpu(u32) {
  if (!FetchParams(1)) return false;
  if (!ReadWrite->SwitchCpu(static_cast<int>(Params[0]))) {
    return Fail(ReadWrite->ProcessorCount() <= 1 ? SingleCpuMessage() : SwitchCpuMessage());
  }
  SetMessage(u"Current CPU = CPU", UnsignedDecimal(Params[0]));
  return true;
}

bool TInterpreter::RunRdmsr(u32) {
  if (!FetchParams(1)) return false;
  Regs.Ecx = Params[0];
  if (!ReadWrite->ReadMsr(Regs)) return Fail(CommandFailMessage());
  CopyRegsToLocals();
  SetMessage(u"Read MSR ", HexShort(Params[0]), u" : High 32bit(EDX) = ", HexDword(Regs.Edx), u", Low 32bit(EAX) = ",
             HexDword(Regs.Eax));
  AppendBitRuler(u64{Regs.Edx} << 32 | Regs.Eax, Lines);
  return true;
}

bool TInterpreter::RunWrmsr(u32) {
  if (!FetchParams(3)) return false;
  Regs.Ecx = Params[0];
  Regs.Edx = Params[1];
  Regs.Eax = Params[2];
  if (!ReadWrite->WriteMsr(Regs)) return Fail(CommandFailMessage());
  SetMessage(u"Write MSR ", HexShort(Params[0]), u" : High 32bit(EDX) = ", HexDword(Params[1]),
             u", Low 32bit(EAX) = ", HexDword(Params[2]));
  AppendBitRuler(u64{Params[1]} << 32 | Params[2], Lines);
  return true;
}

// A counter that cannot be read reads 0; there is no failure to report.
bool TInterpreter::RunRdpmc(u32) {
  if (!FetchParams(1)) return false;
  Value64 = ReadWrite->ReadPmc(Params[0]);
  SplitValue64();
  SetMessage(u"Read PMC ", Decimal(Params[0]), u" : High 32bit = ", HexDword(Slots[0xB]), u", Low 32bit = ",
             HexDword(Slots[0xA]));
  AppendBitRuler(Value64, Lines);
  return true;
}

// All ones is how the I/O layer reports a control register it could not read.
bool TInterpreter::RunRdcr(u32) {
  if (!FetchParams(1)) return false;
  Value64 = ReadWrite->ReadCr(Params[0]);
  if (Value64 == ~u64{0}) return Fail(CommandFailMessage());
  SplitValue64();
  SetMessage(u"Read CR", Decimal(Params[0]), u" : High 32bit = ", HexDword(Slots[0xB]), u", Low 32bit = ",
             HexDword(Slots[0xA]));
  AppendBitRuler(Value64, Lines);
  return true;
}

bool TInterpreter::RunWrcr(u32) {
  if (!FetchParams(3)) return false;
  Value64 = u64{Params[1]} << 32 | Params[2];
  if (!ReadWrite->WriteCr(Params[0], Value64)) return Fail(CommandFailMessage());
  SetMessage(u"Write CR", Decimal(Params[0]), u" : High 32bit = ", HexDword(Params[1]), u", Low 32bit = ",
             HexDword(Params[2]));
  AppendBitRuler(Value64, Lines);
  return true;
}

// Only EAX (the leaf) is set; the I/O layer asks for sub-leaf 0, so the
// outcome does not depend on what an earlier RDMSR, WRMSR or CPUID left in
// the other fields.
bool TInterpreter::RunCpuid(u32) {
  if (!FetchParams(1)) return false;
  Regs.Eax = Params[0];
  if (!ReadWrite->Cpuid(Regs)) return Fail(CommandFailMessage());
  CopyRegsToLocals();
  SetMessage(u"CPUID ", HexShort(Params[0]));
  AppendCpuidTable(Regs.Eax, Regs.Ebx, Regs.Ecx, Regs.Edx, Lines);
  return true;
}

// 0 is how the I/O layer reports a counter it could not read (a driver
// that did not load); a running processor's time-stamp counter never is.
bool TInterpreter::RunRdtsc() {
  Value64 = ReadWrite->ReadTsc();
  if (Value64 == 0) return Fail(CommandFailMessage());
  SplitValue64();
  SetMessage(u"Read TSC = ", HexQword(Value64));
  return true;
}

}  // namespace lirrin
