// Built-in message texts of the Linux build come from the table compiled into the launcher.
#include "app/messages.h"

MyCString BuiltInMessageText(unsigned long number) {
  const char* text = LookUpBuiltInMessage(number);
  if (text) return MyCString(text);
  MyCString decimal;
  decimal.Format("%lu", number);
  return decimal;
}
