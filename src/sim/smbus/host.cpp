#include "sim/smbus/host.h"

#include <iterator>

namespace lirrin::sim {

TSMBusHost::TSMBusHost(TSimBoard& board, TSMBusBus& bus, u16 windowSize)
    : Board(board), Bus(bus), WindowSize(windowSize) {}

TSMBusHost::~TSMBusHost() { Board.UnmapPorts(this); }

void TSMBusHost::Decode(u16 base, bool decoded) {
  Board.UnmapPorts(this);
  Base = decoded ? base : 0;
  if (Base != 0) Board.MapPorts(Base, WindowSize, this);
}

// Byte registers; a wider access reaches consecutive registers, low first.
u32 TSMBusHost::ReadPort(u16 port, TAccessWidth width) {
  u32 value = 0;
  for (unsigned i = 0; i < width; ++i) {
    value |= u32{ReadRegister(static_cast<u8>(port - Base + i))} << (8 * i);
  }
  return value;
}

void TSMBusHost::WritePort(u16 port, TAccessWidth width, u32 value) {
  for (unsigned i = 0; i < width; ++i) {
    WriteRegister(static_cast<u8>(port - Base + i), static_cast<u8>(value >> (8 * i)));
  }
}

std::optional<TSMBusRequest> TSMBusHost::Request(unsigned protocol, u8 addressByte, u8 command,
                                                 std::array<u8, 2> data) {
  static constexpr TSMBusProtocol kProtocols[] = {TSMBusProtocol::Quick, TSMBusProtocol::Byte,
                                                  TSMBusProtocol::ByteData, TSMBusProtocol::WordData};
  if (protocol >= std::size(kProtocols)) return std::nullopt;
  return TSMBusRequest{static_cast<u8>(addressByte >> 1), (addressByte & 1) != 0, kProtocols[protocol], command, data};
}

bool TSMBusHost::Launch(const std::optional<TSMBusRequest>& request) {
  if (!HostEnabled || Busy()) return false;
  Running = TRunning{request, 1};
  return true;
}

std::optional<TSMBusHost::TCompletion> TSMBusHost::Observe() {
  if (!Running) return std::nullopt;
  if (Running->BusyReads > 0) {
    --Running->BusyReads;
    return std::nullopt;
  }
  const std::optional<TSMBusRequest> request = Running->Request;
  Running.reset();
  if (!request) return TCompletion{TOutcome::Unsupported, {}};
  const TSMBusReply reply = Bus.Transfer(*request);
  return TCompletion{reply.Acknowledged ? TOutcome::Done : TOutcome::NoAcknowledge, reply.Data};
}

void TSMBusHost::LatchOutcome(u8& status, u8 doneBit, u8 errorBit, u8 addressByte, std::array<u8, 2>& data) {
  const auto done = Observe();
  if (!done) return;
  if (done->Outcome != TOutcome::Done) {
    status |= errorBit;
    return;
  }
  status |= doneBit;
  if ((addressByte & 1) != 0) data = done->Data;
}

bool TSMBusHost::Abort() {
  if (!Running) return false;
  Running.reset();
  return true;
}

}  // namespace lirrin::sim
