#include "hw/board_context.h"

#include "hw/read_write.h"
#include "support/debug_console.h"
#include "support/singletons.h"

namespace lirrin {

TBoardContext::TBoardContext(TBoardSeams seams) {
  // Whatever a previous board left behind would keep talking to it.
  ReleaseSingletons();
  TTransportFactory factory;
  if (seams.Transport) factory = [transport = std::move(seams.Transport)] { return transport; };
  TReadWrite::SetTransportFactory(std::move(factory));
  TClock::Install(seams.Clock);
  SetMessageBoxRecorder(std::move(seams.MessageBoxes));
  TDebugConsole* console = TDebugConsole::Instance(false);
  DebugBefore = console->Enabled();
  console->SetEnabled(seams.Debug);
}

TBoardContext::~TBoardContext() {
  ReleaseSingletons();
  TReadWrite::SetTransportFactory({});
  TClock::Install(nullptr);
  SetMessageBoxRecorder({});
  TDebugConsole::Instance(false)->SetEnabled(DebugBefore);
}

}  // namespace lirrin
