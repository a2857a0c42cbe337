#include "jvm/main_invoke.h"

#include "app/messages.h"
#include "core/text_conv.h"
#include "platform/platform.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The Java form of one argument. Text in the locale's encoding is decoded character by
// character; a byte that does not start a valid character becomes '?' and decoding goes on
// after it, so an argument is never cut short. Characters above U+FFFF become surrogate pairs.
jstring NewJavaString(JNIEnv* env, const char* text) {
  UnicodeString wide(text ? text : "", -1);
  UcsString units(wide.CStr(), wide.GetLength());
  return env->NewString(reinterpret_cast<const jchar*>(units.CStr()), units.GetLength());
}

// The first line a JVM prints for an uncaught exception: the thread and the exception's
// toString(), which names its class and message. The exception must be cleared already.
MyCString DescribeUncaught(JNIEnv* env, jthrowable exception) {
  MyCString text("Exception in thread \"main\" ");
  jclass throwable = env->FindClass("java/lang/Throwable");
  jmethodID toString =
      throwable ? env->GetMethodID(throwable, "toString", "()Ljava/lang/String;") : nullptr;
  jstring described =
      toString ? static_cast<jstring>(env->CallObjectMethod(exception, toString)) : nullptr;
  // A failure on the way leaves its own exception, which is not described in turn.
  env->ExceptionClear();
  const jchar* units = described ? env->GetStringChars(described, nullptr) : nullptr;
  if (units) {
    UnicodeString wide(reinterpret_cast<const unsigned short*>(units),
                       env->GetStringLength(described));
    text.Append(WideToLocale(wide.CStr(), wide.GetLength()));
    env->ReleaseStringChars(described, units);
  }
  env->DeleteLocalRef(described);
  env->DeleteLocalRef(throwable);
  return text;
}

}  // namespace

bool CheckJavaException(JNIEnv* env, bool describe) {
  jthrowable pending = env->ExceptionOccurred();
  if (!pending) return false;
  if (describe && UserTextGoesToStandardError()) {
    env->ExceptionDescribe();
  } else if (describe) {
    env->ExceptionClear();
    ShowUserText(DescribeUncaught(env, pending).CStr());
  }
  env->ExceptionClear();
  env->DeleteLocalRef(pending);
  return true;
}

jclass FindClassDotted(JNIEnv* env, const char* name) {
  MyCString slashed(name);
  char* s = slashed.GetBuffer();
  for (int i = 0; i < slashed.GetLength(); ++i) {
    if (s[i] == '.') s[i] = '/';
  }
  jclass found = env->FindClass(slashed.CStr());
  if (!found) CheckJavaException(env, true);
  return found;
}

int SplitArguments(CBufferT<char*>& wordList, char* text) {
  char* read = text;
  char* write = text;
  bool quoted = false;
  for (;;) {
    while (IsBlank(*read)) *read++ = '\0';
    if (*read == '\0') break;
    write = read;
    wordList.AppendOne(write);
    bool wordEnded = false;
    while (!wordEnded) {
      char c = *read;
      if (c == '\0') {
        *write = '\0';
        return wordList.GetLength();
      }
      if (IsBlank(c) && !quoted) {
        *write = '\0';
        ++read;
        wordEnded = true;
      } else if (c == '"') {
        quoted = !quoted;
        ++read;
      } else if (c == '\\' && quoted) {
        if (read[1] == '\\' || read[1] == '"') {
          *write++ = read[1];
          read += 2;
        } else {
          *write++ = '\\';
          ++read;
        }
      } else if (c == '\\' && read[1] != '\0') {
        *write++ = read[1];
        read += 2;
      } else {
        *write++ = c;
        ++read;
      }
    }
  }
  return wordList.GetLength();
}

jobjectArray BuildStringArray(JNIEnv* env, int count1, char** list1, int count2, char** list2,
                              int count3, char** list3) {
  int counts[3] = {count1 < 0 ? 0 : count1, count2 < 0 ? 0 : count2, count3 < 0 ? 0 : count3};
  char** lists[3] = {list1, list2, list3};
  jclass stringClass = env->FindClass("java/lang/String");
  if (!stringClass) {
    CheckJavaException(env, true);
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(counts[0] + counts[1] + counts[2], stringClass, nullptr);
  int index = 0;
  for (int list = 0; list < 3 && array; ++list) {
    for (int i = 0; i < counts[list]; ++i) {
      jstring s = NewJavaString(env, lists[list] ? lists[list][i] : nullptr);
      env->SetObjectArrayElement(array, index++, s);
      env->DeleteLocalRef(s);
    }
  }
  env->DeleteLocalRef(stringClass);
  return array;
}

int RunMain(JNIEnv* env, const char* mainClass, MyCStringArray& argvValues, int argCount,
            char** argVector, int extraCount, char** extraVector) {
  jclass cls = FindClassDotted(env, mainClass);
  if (!cls) return kMsgMainClassNotFound;
  jmethodID mainMethod = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  if (!mainMethod) {
    CheckJavaException(env, true);
    env->DeleteLocalRef(cls);
    return kMsgMainMethodMissing;
  }
  CBufferT<char*> words;
  for (int i = 0; i < argvValues.GetCount(); ++i) SplitArguments(words, argvValues.GetAt(i));
  jobjectArray args = BuildStringArray(env, words.GetLength(), words.GetBuffer(), argCount,
                                       argVector, extraCount, extraVector);
  env->CallStaticVoidMethod(cls, mainMethod, args);
  bool threw = CheckJavaException(env, true);
  env->DeleteLocalRef(args);
  env->DeleteLocalRef(cls);
  return threw ? kMainThrew : kSuccess;
}

void CallSystemExit(JNIEnv* env, int status) {
  jclass system = env->FindClass("java/lang/System");
  if (system) {
    jmethodID exitMethod = env->GetStaticMethodID(system, "exit", "(I)V");
    if (exitMethod) env->CallStaticVoidMethod(system, exitMethod, static_cast<jint>(status));
    env->DeleteLocalRef(system);
  }
  CheckJavaException(env, false);
}
