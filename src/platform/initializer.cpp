#include "platform/initializer.h"

#include "smbus/smbus.h"
#include "support/message_box.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TInitializer* instance = nullptr;

}  // namespace

TInitializer* TInitializer::Instance() {
  if (instance == nullptr) {
    instance = new TInitializer();
    EnlistSingleton(&TInitializer::FreeInstance);
  }
  return instance;
}

void TInitializer::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TInitializer::TInitializer() : Platform(TNvkSpec::Instance()) {
  if (!Platform->IsSupported()) {
    ShowErrorBox({kNotForThisPlatform, u"Error 0xFFFE", true});
    return;
  }
  TReadWrite::Instance();
  TSMBus::Instance();
  IsSupported = true;
}

TInitializer::~TInitializer() {
  TNvkSpec::FreeInstance();
  TSMBus::FreeInstance();
  TReadWrite::FreeInstance();
}

}  // namespace lirrin
