#include "platform/ansi_text.h"

namespace lirrin {

TText FromAnsi(std::string_view text) { return Widen(text); }

}  // namespace lirrin
