#include "sim/smbus/bus.h"

#include <cstdio>
#include <sstream>

#include "sim/smbus/state_file.h"

namespace lirrin::sim {

// --- Slave state ---------------------------------------------------------------------

TSlaveState DefaultSlaveState() {
  TSlaveState state;
  // The SPD header of a 2 GiB DDR2-800 module: bytes used, device size, memory
  // type, row and column bits, ranks, data width, voltage, cycle time.
  const u8 header[] = {0x80, 0x08, 0x08, 0x0E, 0x0A, 0x61, 0x40, 0x00, 0x05, 0x25, 0x40};
  std::copy(std::begin(header), std::end(header), state.Eeprom.begin());
  u8 checksum = 0;
  for (int i = 0; i < 63; ++i) checksum = static_cast<u8>(checksum + state.Eeprom[i]);
  state.Eeprom[63] = checksum;
  return state;
}

// Two lines, "amplifier=0xHHHH" and "eeprom=" with 512 hex digits.
std::string FormatSlaveState(const TSlaveState& state) {
  char word[8];
  std::snprintf(word, sizeof word, "0x%04X", state.AmplifierWord);
  std::string text = std::string("amplifier=") + word + "\neeprom=";
  for (u8 byte : state.Eeprom) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    text += hex;
  }
  return text + "\n";
}

std::optional<TSlaveState> ParseSlaveState(const std::string& text) {
  TSlaveState state;
  bool haveAmplifier = false, haveEeprom = false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("amplifier=", 0) == 0) {
      const std::string value = line.substr(10);
      char* end = nullptr;
      const unsigned long word = std::strtoul(value.c_str(), &end, 16);
      if (value.empty() || *end != '\0' || word > 0xFFFF) return std::nullopt;
      state.AmplifierWord = static_cast<u16>(word);
      haveAmplifier = true;
    } else if (line.rfind("eeprom=", 0) == 0) {
      const std::string hex = line.substr(7);
      if (hex.size() != 2 * state.Eeprom.size()) return std::nullopt;
      for (std::size_t i = 0; i < state.Eeprom.size(); ++i) {
        char* end = nullptr;
        const std::string pair = hex.substr(2 * i, 2);
        const unsigned long byte = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0') return std::nullopt;
        state.Eeprom[i] = static_cast<u8>(byte);
      }
      haveEeprom = true;
    }
  }
  if (!haveAmplifier || !haveEeprom) return std::nullopt;
  return state;
}

// --- Slaves ----------------------------------------------------------------------------

bool TAmplifier::Start(bool read) {
  if (!Present) return false;
  if (!read) Pointer.reset();
  ByteIndex = 0;
  return true;
}

bool TAmplifier::Write(u8 byte) {
  if (!Pointer) {
    if (byte != amp::kCommand) return false;
    Pointer = byte;
    return true;
  }
  if (ByteIndex > 1) return false;  // the register has two bytes
  const unsigned shift = 8 * ByteIndex++;
  State.AmplifierWord = static_cast<u16>((State.AmplifierWord & ~(0xFFu << shift)) | u32{byte} << shift);
  return true;
}

u8 TAmplifier::Read() {
  const u8 byte = static_cast<u8>(State.AmplifierWord >> (8 * (ByteIndex & 1)));
  ++ByteIndex;
  return byte;
}

bool TEeprom::Start(bool read) {
  if (!read) PointerSet = false;
  return true;
}

bool TEeprom::Write(u8 byte) {
  if (!PointerSet) {
    Pointer = byte;
    PointerSet = true;
  } else {
    State.Eeprom[Pointer++] = byte;
  }
  return true;
}

u8 TEeprom::Read() { return State.Eeprom[Pointer++]; }

// --- Bus ----------------------------------------------------------------------------------

TSMBusBus::TSMBusBus(std::string stateFile) : StateFile(std::move(stateFile)), State(DefaultSlaveState()) {}

void TSMBusBus::Attach(std::unique_ptr<TSMBusSlave> slave) { Slaves.push_back(std::move(slave)); }

TSMBusSlave* TSMBusBus::Slave(u8 address) const {
  for (const auto& slave : Slaves) {
    if (slave->Address() == address) return slave.get();
  }
  return nullptr;
}

TSMBusReply TSMBusBus::Transfer(const TSMBusRequest& request) {
  if (StateFile.empty()) return Play(request);
  // The whole transaction runs under the file's lock, so transactions of
  // several processes on one file are serialised and none loses a write. A
  // file that cannot be locked leaves the slaves unreachable.
  TLockedStateFile file(StateFile);
  if (!file.Locked()) return {};
  State = ParseSlaveState(file.Read()).value_or(DefaultSlaveState());
  const TSlaveState before = State;
  const TSMBusReply reply = Play(request);
  if (State != before) file.Write(FormatSlaveState(State));
  return reply;
}

// The SMBus 2.0 transfer formats. A missing slave or a byte that is not
// acknowledged ends the transfer with a stop; the host reports a device error.
TSMBusReply TSMBusBus::Play(const TSMBusRequest& request) {
  TSMBusReply reply;
  TSMBusSlave* slave = Slave(request.Address);
  if (slave == nullptr) return reply;
  const bool read = request.Read;
  switch (request.Protocol) {
    case TSMBusProtocol::Quick:
      reply.Acknowledged = slave->Start(read);
      break;
    case TSMBusProtocol::Byte:  // send byte carries its byte in the command field
      if (!slave->Start(read)) break;
      if (read) {
        reply.Data[0] = slave->Read();
        reply.Acknowledged = true;
      } else {
        reply.Acknowledged = slave->Write(request.Command);
      }
      break;
    case TSMBusProtocol::ByteData:
    case TSMBusProtocol::WordData: {
      const unsigned count = request.Protocol == TSMBusProtocol::WordData ? 2 : 1;
      if (!slave->Start(false) || !slave->Write(request.Command)) break;
      if (read) {
        if (!slave->Start(true)) break;  // repeated start
        for (unsigned i = 0; i < count; ++i) reply.Data[i] = slave->Read();
      } else {
        for (unsigned i = 0; i < count; ++i) {
          if (!slave->Write(request.Data[i])) return reply;
        }
      }
      reply.Acknowledged = true;
      break;
    }
  }
  return reply;
}

std::unique_ptr<TSMBusBus> MakeBoardBus(const std::string& stateFile, bool amplifierPresent) {
  auto bus = std::make_unique<TSMBusBus>(stateFile);
  auto amplifier = std::make_unique<TAmplifier>(bus->SlaveState());
  amplifier->Present = amplifierPresent;
  bus->Attach(std::move(amplifier));
  bus->Attach(std::make_unique<TEeprom>(bus->SlaveState()));
  return bus;
}

}  // namespace lirrin::sim
