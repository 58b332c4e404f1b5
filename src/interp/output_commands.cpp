// DMEM, the memory dump, and LOGFILE.
#include "interp/interpreter.h"
#include "interp/messages.h"
#include "interp/value_format.h"

namespace lirrin {

namespace {

constexpr u32 kDefaultDumpSize = 0x100;
// A dump larger than 16 MiB (a million lines of Output) is refused with
// " - Allocate buffer error" instead of claiming whatever a typing error
// asked for; the firmware areas a dump is meant for are far smaller.
constexpr u32 kMaxDumpSize = 16u << 20;
constexpr u32 kBytesPerDumpRow = 16;

}  // namespace

// DMEM address [size [file]]: the dump goes to Output and, with a file name,
// all of Output is saved to that file. Memory that cannot be read shows as
// FFh bytes, as a failed memory read reads all ones.
bool TInterpreter::RunDmem(u32) {
  if (!FetchParams(1)) return false;
  FetchOptionalParam(1, kDefaultDumpSize);
  const bool toFile = FetchTextParams(1);
  const u32 address = Params[0];
  const u32 size = Params[1];
  SetMessage(u"Dump Memory: Address=", HexShort(address), u", Size=", HexShort(size));
  if (size > kMaxDumpSize) {
    Message += AllocateBufferMessage();
    return true;
  }
  if (!CountSteps((u64{size} + kBytesPerDumpRow - 1) / kBytesPerDumpRow)) return false;
  std::vector<u8> buffer(size, 0xFF);
  ReadWrite->ReadMemBlock(buffer.data(), size, address);
  AppendHexDump(buffer.data(), size, Lines);
  if (toFile) {
    if (!CountSteps(Lines.size())) return false;
    // A file that cannot be written is reported in the printout; the dump
    // itself is in Output, so the command still succeeds.
    const bool saved = SaveLines(TextParams[0], Lines);
    Message += u", File=" + TextParams[0];
    if (!saved) Message += SaveFileMessage();
  }
  return true;
}

// LOGFILE file: creates or empties the file and keeps it open, shared with
// nobody and written through to the disk, until another LOGFILE or the
// interpreter's end. The interpreter writes nothing into it. A file that
// cannot be created leaves the log file unset; the command succeeds with its
// printout all the same.
bool TInterpreter::RunLogFile(u32) {
  if (!FetchTextParams(1)) return false;
  SetMessage(u"Logfile = ", TextParams[0]);
  LogFile.Open(TextParams[0]);
  return true;
}

bool TInterpreter::CancelLogFile() {
  if (LogFile.IsOpen()) {
    LogFile.Close();
    Message = u"Logfile is canceled.";
  } else {
    Message = u"Logfile is not set.";
  }
  return true;
}

}  // namespace lirrin
