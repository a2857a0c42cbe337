// The numbered user-facing messages, their built-in texts and the `message` overrides.
#ifndef LAUNCHER_APP_MESSAGES_H_
#define LAUNCHER_APP_MESSAGES_H_

#include "core/buffer.h"

// The numbered messages. A failing step returns its message number, which travels unchanged to
// the exit status; only message 13 ends with its own status.
enum MessageNumber : int {
  kSuccess = 0,
  kMsgRuntimeNotFound = 1,
  kMsgRuntimeNotValid = 2,
  kMsgJvmInitFailed = 3,
  kMsgJvmStartFailed = 4,
  kMsgVersionUnreadable = 5,
  kMsgVersionTooLow = 6,
  kMsgMainClassNotFound = 7,
  kMsgMainMethodMissing = 8,
  kMsgError = 10,
  kMsgVersionTooHigh = 12,
  kMsgAnotherInstance = 13,
};
// The exit status of a start refused by the single-instance guard (message 13).
const int kStatusAnotherInstance = 11;
// The exit status when main ended with an exception: no launcher message, as with java.
const int kStatusMainThrew = 1;

// The text for a message number: an override, else the built-in text, else the number itself.
MyCString GetMessageText(unsigned long number);
// Shows the message text to the user (ShowUserText: standard error, or the windowed image's box).
void ReportMessage(unsigned long number);
// Builds the override cache again from the settings pldr holds now (tests and fuzzing).
void ReloadMessageOverridesForTesting();
// Resolves \r, \n, \t and backslash-escaped characters of an override text.
MyCString UnescapeMessageText(const char* text);
// Fills the "%s" places of a version message (6 or 12) with the JVM version, the lower and the
// upper bound. A text with any other conversion, or more than five "%s", is returned as it is.
MyCString FormatVersionMessage(const MyCString& text, const char* version, const char* minimum,
                               const char* maximum);

// The built-in texts, ended by an entry with number 0; the platform may supply them otherwise.
struct MessageEntry {
  unsigned long number;
  const char* text;
};
extern const MessageEntry msgTable[];

// The built-in text for number, or null, from msgTable.
const char* LookUpBuiltInMessage(unsigned long number);
// The text of a message that no override replaces: the executable's resource where the platform
// keeps messages there (empty for an unknown number), otherwise msgTable, and an unknown number
// in decimal.
MyCString BuiltInMessageText(unsigned long number);

#endif  // LAUNCHER_APP_MESSAGES_H_
