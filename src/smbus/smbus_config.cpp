#include "smbus/smbus_config.h"

#include <string>

#include "support/singletons.h"

namespace lirrin {

namespace {

TSMBusConfig* instance = nullptr;

}  // namespace

TSMBusConfig* TSMBusConfig::Instance() {
  if (instance == nullptr) {
    instance = new TSMBusConfig();
    EnlistSingleton(&TSMBusConfig::FreeInstance);
  }
  return instance;
}

void TSMBusConfig::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TSMBusConfig::TSMBusConfig() {
  for (const TSMBusCfg& family : BuiltInSMBusFamilies()) Table[family.Name] = family;
}

TText CompletePrefix(const TText& prefix, i32 operand) {
  return prefix + u' ' + Widen(std::to_string(operand));
}

}  // namespace lirrin
