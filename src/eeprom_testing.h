// Test access to the emulated EEPROM's module record, kept out of eeprom.h so
// the program cannot reach it.
#ifndef CORVO_EEPROM_TESTING_H
#define CORVO_EEPROM_TESTING_H

// Returns the module record to its program-start state: not initialised, no
// geometry, an all-zero page map and cache.
void eeprom_emulator_reset_for_tests(void);

#endif
