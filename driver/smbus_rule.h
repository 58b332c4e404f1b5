#ifndef NVK_SMBUS_RULE_H
#define NVK_SMBUS_RULE_H
/*
 * Which SMBus transactions anything of ours may start. The bus the
 * amplifier sits on is shared with the memory modules' serial EEPROMs
 * (7-bit 50h-57h): a word written there overwrites the module's
 * configuration bytes, and a board whose module reports the wrong memory
 * type no longer boots. DDR4 modules answer at 7-bit 30h-37h as well, where
 * the address phase alone selects an EEPROM page or sets or clears its
 * write protection, so even a read there acts. 00h is the general call,
 * which every slave that listens to it takes as addressed to itself.
 *
 * So: a transaction that writes data goes to the amplifier (7-bit 25h)
 * only; no transaction of any kind goes to 00h or 30h-37h; reads elsewhere
 * stay allowed (they are how a module's type is looked at). The driver, the
 * SMBus engine and the kernel adapter's route all hold transactions to this
 * one rule, so that no caller can lift it, not even with --force.
 */

#include <stdbool.h>
#include <stdint.h>

#define NVK_AMPLIFIER_SLAVE 0x25 /* 7-bit; 8-bit 4Ah */

/* The rule's text, as the programs show it when they refuse. */
#define NVK_SMBUS_RULE_TEXT                                                                  \
  "SMBus writes go only to the amplifier (7-bit 0x25) and no transaction goes to 0x00 or " \
  "0x30-0x37, so that the memory modules' EEPROMs on the same bus are never changed"

/* `slave` is the 7-bit address; `writesData` is true for every protocol
 * that sends the slave data beyond the command byte of a read (quick
 * write, send byte, byte, word and block writes, process calls). */
static inline bool SMBusTransactionAllowed(uint8_t slave, bool writesData) {
  if (slave == 0x00 || (slave >= 0x30 && slave <= 0x37)) return false;
  return !writesData || slave == NVK_AMPLIFIER_SLAVE;
}

#endif
