// Built-in message texts of the Linux build come from the table compiled into the launcher.
#include "app/messages.h"

const char* LookUpBuiltInMessage(unsigned long number) {
  for (int i = 0; i < 100 && msgTable[i].number != 0; ++i) {
    if (msgTable[i].number == number) return msgTable[i].text;
  }
  return nullptr;
}
