#include "jvm/java_session.h"

#include <climits>
#include <cstring>

#include "app/messages.h"
#include "core/text_conv.h"
#include "core/trace.h"
#include "jvm/class_data_sharing.h"
#include "jvm/class_path.h"
#include "jvm/jvm_session.h"
#include "jvm/main_invoke.h"
#include "platform/platform.h"
#include "runtime/runtime_search.h"
#include "settings/settings_loader.h"

namespace {

void AddGeneratedOption(const char* prefix, const CBufferRefT<char>& value) {
  MyCString option(prefix);
  option.Append(value);
  psession->AddOption(option.CStr());
}

// Java's own UTF-8 reader takes modified UTF-8, in which a character above U+FFFF is not four
// bytes; going through UTF-16 keeps every character as written.
jstring NewStringFromUtf8(JNIEnv* env, const MyCString& text) {
  UnicodeStringFromUtf8 wide(text.CStr(), text.GetLength());
  UcsString units(wide.CStr(), wide.GetLength());
  return env->NewString(reinterpret_cast<const jchar*>(units.CStr()), units.GetLength());
}

struct Version {
  int count;
  int parts[4];
};

Version ParseVersion(const char* text) {
  Version v{0, {0, 0, 0, 0}};
  v.count = sscanf(text, "%d.%d.%d_%d", &v.parts[0], &v.parts[1], &v.parts[2], &v.parts[3]);
  return v;
}

// Compares the first k numbers; negative when a is lower, positive when higher.
int ComparePrefix(const Version& a, const Version& b) {
  int k = a.count < b.count ? a.count : b.count;
  for (int i = 0; i < k; ++i) {
    if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
  }
  return 0;
}

int CreateAndCheck(const MyCString& classPath, const MyCString& minimum, const MyCString& maximum,
                   MyCString& version) {
  MyCString library = FindJavaRuntime(pldr);
  if (library.IsEmpty()) return kMsgRuntimeNotFound;
  PrepareClassDataSharing(library.CStr(), classPath);
  int status = psession->LoadAndCreateVM(library.CStr());
  if (status != kSuccess) return status;
  CheckClassDataSharing();
  MyCStringArray properties = pldr->GetValues(SettingKey::kProperty);
  for (int i = 0; i < properties.GetCount(); ++i) {
    SetSystemProperty(psession->GetEnv(), properties.GetAt(i));
  }
  if (minimum.IsEmpty() && maximum.IsEmpty()) return kSuccess;
  if (!GetJavaVersion(version)) {
    TRACE("java.version could not be read");
    return kMsgVersionUnreadable;
  }
  TRACE("java.version %s, minjre '%s', maxjre '%s'", version.CStr(), minimum.CStr(),
        maximum.CStr());
  return CheckVersionBounds(version.CStr(), minimum.CStr(), maximum.CStr());
}

}  // namespace

int CheckVersionBounds(const char* version, const char* minimum, const char* maximum) {
  Version actual = ParseVersion(version);
  if (ComparePrefix(actual, ParseVersion(minimum)) < 0) return kMsgVersionTooLow;
  if (ComparePrefix(actual, ParseVersion(maximum)) > 0) return kMsgVersionTooHigh;
  return kSuccess;
}

int RunJavaSession(int argCount, char** argVector, void (*signalSetup)(), int extraCount,
                   char** extraVector) {
  MyCStringArray exports = pldr->GetValues(SettingKey::kExport);
  for (int i = 0; i < exports.GetCount(); ++i) ExportVariable(exports.GetAt(i));
  MyCStringArray options = pldr->GetValues(SettingKey::kOption);
  for (int i = 0; i < options.GetCount(); ++i) psession->AddOption(options.GetAt(i));
  MyCString classPath = BuildClassPath(pldr);
  TRACE("class path: %s", classPath.CStr());
  AddGeneratedOption("-Djava.class.path=", classPath);
  AddGeneratedOption("-Dksl.app.path=", pldr->exePath);
  AddGeneratedOption("-Dapplication.home=", pldr->appHome);

  MyCString minimum = pldr->GetValue(SettingKey::kMinJre);
  MyCString maximum = pldr->GetValue(SettingKey::kMaxJre);
  MyCString version;
  int result = CreateAndCheck(classPath, minimum, maximum, version);
  if (result == kSuccess) {
    if (signalSetup) signalSetup();
    MyCStringArray argvValues = pldr->GetValues(SettingKey::kArgv);
    MyCString mainClass = pldr->GetValue(SettingKey::kMainClass);
    TRACE("main class '%s', %d argv values, %d command-line arguments", mainClass.CStr(),
          argvValues.GetCount(), argCount);
    result = RunMain(psession->GetEnv(), mainClass.CStr(), argvValues, argCount, argVector,
                     extraCount, extraVector);
  }
  if (result == kMainThrew) {
    TRACE("main ended with an exception");
    return kStatusMainThrew;
  }
  TRACE("session result %d", result);
  if (result == kMsgVersionTooLow || result == kMsgVersionTooHigh) {
    MyCString text = FormatVersionMessage(GetMessageText(static_cast<unsigned long>(result)),
                                          version.CStr(), minimum.CStr(), maximum.CStr());
    ShowUserText(text.CStr());
  } else if (result != 0) {
    ReportMessage(static_cast<unsigned long>(result));
  }
  return result;
}

long ParseStackSizeOption(const char* option) {
  if (strncmp(option, "-Xss", 4) != 0) return 0;
  const char* p = option + 4;
  if (*p < '0' || *p > '9') return 0;
  unsigned long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned long long>(*p - '0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  int shift = 0;
  switch (*p) {
    case 'k':
    case 'K':
      shift = 10;
      break;
    case 'm':
    case 'M':
      shift = 20;
      break;
    case 'g':
    case 'G':
      shift = 30;
      break;
    case 't':
    case 'T':
      shift = 40;
      break;
    case '\0':
      break;
    default:
      return 0;
  }
  if (shift && p[1] != '\0') return 0;
  value <<= shift;
  // A size the thread layer cannot represent leaves the choice to the system.
  if (value > static_cast<unsigned long long>(LONG_MAX)) return 0;
  return static_cast<long>(value);
}

long RequestedStackSize() {
  MyCStringArray options = pldr->GetValues(SettingKey::kOption);
  long size = 0;
  for (int i = 0; i < options.GetCount(); ++i) {
    if (strncmp(options.GetAt(i), "-Xss", 4) == 0) size = ParseStackSizeOption(options.GetAt(i));
  }
  return size;
}

bool GetJavaVersion(MyCString& out) {
  JNIEnv* env = psession ? psession->GetEnv() : nullptr;
  if (!env) return false;
  jclass system = env->FindClass("java/lang/System");
  jmethodID getProperty = system ? env->GetStaticMethodID(system, "getProperty",
                                                          "(Ljava/lang/String;)Ljava/lang/String;")
                                 : nullptr;
  if (!getProperty) {
    CheckJavaException(env, false);
    if (system) env->DeleteLocalRef(system);
    return false;
  }
  jstring key = env->NewStringUTF("java.version");
  jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, getProperty, key));
  if (value) {
    jsize length = env->GetStringLength(value);
    const jchar* chars = env->GetStringChars(value, nullptr);
    if (chars) {
      UnicodeString wide(reinterpret_cast<const unsigned short*>(chars), length < 0 ? -1 : length);
      out = WideToLocale(wide.CStr(), wide.GetLength());
      env->ReleaseStringChars(value, chars);
    }
  }
  CheckJavaException(env, false);
  if (value) env->DeleteLocalRef(value);
  env->DeleteLocalRef(key);
  env->DeleteLocalRef(system);
  return true;
}

void SetSystemProperty(JNIEnv* env, const char* text) {
  const char* equals = text;
  while (*equals && *equals != '=') ++equals;
  MyCString name(text, static_cast<int>(equals - text));
  MyCString value(*equals ? equals + 1 : "");
  jclass system = env->FindClass("java/lang/System");
  jmethodID setProperty =
      system ? env->GetStaticMethodID(system, "setProperty",
                                      "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
             : nullptr;
  if (!setProperty) {
    CheckJavaException(env, false);
    if (system) env->DeleteLocalRef(system);
    return;
  }
  jstring javaName = NewStringFromUtf8(env, name);
  jstring javaValue = NewStringFromUtf8(env, value);
  jobject previous = env->CallStaticObjectMethod(system, setProperty, javaName, javaValue);
  // An empty name makes setProperty throw; clear it so that later JNI calls stay valid.
  CheckJavaException(env, false);
  if (previous) env->DeleteLocalRef(previous);
  env->DeleteLocalRef(javaValue);
  env->DeleteLocalRef(javaName);
  env->DeleteLocalRef(system);
}
