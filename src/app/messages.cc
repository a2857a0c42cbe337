#include "app/messages.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "settings/settings_loader.h"

const MessageEntry msgTable[] = {
    {kMsgRuntimeNotFound, "Java Runtime Environment not found."},
    {kMsgRuntimeNotValid, "Java Runtime Environment not valid."},
    {kMsgJvmInitFailed, "Java Virtual Machine initialize failed."},
    {kMsgJvmStartFailed, "Java Virtual Machine starts failed."},
    {kMsgVersionUnreadable, "Can not get the virtual machine version."},
    {kMsgVersionTooLow, "Java virtual machine version %s is too low, require %s or higher."},
    {kMsgMainClassNotFound, "The main startup class could not be found."},
    {kMsgMainMethodMissing, "The main startup class is not valid, main method missing."},
    {kMsgError, "Error"},
    {kMsgVersionTooHigh,
     "Java virtual machine version %s is too high, version between %s and %s is required."},
    {kMsgAnotherInstance, "There is already an instance of this program running."},
    {0, nullptr},
};

namespace {

// Overrides from the `message` setting: pairs of (number, text index) and the texts.
struct OverrideCache {
  CBufferT<unsigned int> pairs;
  MyCStringArray texts;
};

OverrideCache* g_overrides = nullptr;

void ReleaseOverrides() {
  delete g_overrides;
  g_overrides = nullptr;
}

void FillOverrides(OverrideCache* cache) {
  if (!pldr) return;
  MyCStringArray values = pldr->GetValues(SettingKey::kMessage);
  for (int i = 0; i < values.GetCount(); ++i) {
    const char* value = values.GetAt(i);
    const char* equals = strchr(value, '=');
    if (!equals) continue;
    long number = strtol(value, nullptr, 10);
    // A number the pair list cannot hold would otherwise wrap onto a small one.
    if (number < 1 || static_cast<unsigned long>(number) > UINT_MAX) continue;
    MyCString text = UnescapeMessageText(equals + 1);
    cache->pairs.AppendOne(static_cast<unsigned int>(number));
    cache->pairs.AppendOne(static_cast<unsigned int>(cache->texts.GetCount()));
    cache->texts.Add(text.CStr(), text.GetLength());
  }
  cache->pairs.AppendOne(0);
  cache->pairs.AppendOne(0);
}

void BuildOverrides() {
  g_overrides = new OverrideCache();
  atexit(ReleaseOverrides);
  FillOverrides(g_overrides);
}

}  // namespace

MyCString UnescapeMessageText(const char* text) {
  MyCString out;
  for (const char* p = text; *p; ++p) {
    if (*p != '\\') {
      out.AppendOne(*p);
      continue;
    }
    char next = p[1];
    if (next == '\0') break;
    out.AppendOne(next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next);
    ++p;
  }
  return out;
}

MyCString GetMessageText(unsigned long number) {
  static OnceFlag once = {};
  RunOnce(&once, BuildOverrides);
  // After exit processing has released the overrides only the built-in texts remain.
  if (!g_overrides) return BuiltInMessageText(number);
  const unsigned int* pairs = g_overrides->pairs.GetData();
  for (int i = 0; i + 1 < g_overrides->pairs.GetLength(); i += 2) {
    if (pairs[i] == 0) break;
    if (pairs[i] == number && static_cast<int>(pairs[i + 1]) < g_overrides->texts.GetCount()) {
      return MyCString(g_overrides->texts.GetAt(static_cast<int>(pairs[i + 1])));
    }
  }
  return BuiltInMessageText(number);
}

MyCString BuiltInMessageText(unsigned long number) {
  if (kMessagesAreResources) return MessageResourceText(number);
  const char* text = LookUpBuiltInMessage(number);
  if (text) return MyCString(text);
  MyCString decimal;
  decimal.Format("%lu", number);
  return decimal;
}

const char* LookUpBuiltInMessage(unsigned long number) {
  for (int i = 0; i < 100 && msgTable[i].number != 0; ++i) {
    if (msgTable[i].number == number) return msgTable[i].text;
  }
  return nullptr;
}

void ReloadMessageOverridesForTesting() {
  GetMessageText(0);  // the cache and its release at exit exist from here on
  OverrideCache* fresh = new OverrideCache();
  FillOverrides(fresh);
  delete g_overrides;
  g_overrides = fresh;
}

void ReportMessage(unsigned long number) {
  ShowUserText(GetMessageText(number).CStr());
}

MyCString FormatVersionMessage(const MyCString& text, const char* version, const char* minimum,
                               const char* maximum) {
  const char* arguments[5] = {version, minimum, maximum, "", ""};
  MyCString out;
  int used = 0;
  const char* s = text.CStr();
  for (int i = 0; i < text.GetLength(); ++i) {
    if (s[i] != '%') {
      out.AppendOne(s[i]);
      continue;
    }
    char conversion = text.CharAt(i + 1, '\0');
    if (conversion == '%') {
      out.AppendOne('%');
    } else if (conversion == 's' && used < 5) {
      out.AppendStr(arguments[used++]);
    } else {
      return text;  // a conversion the five strings cannot satisfy: print the text as it is
    }
    ++i;
  }
  return out;
}
