// A stand-in for a Java runtime's JVM library. It implements the part of the invocation interface
// and of the JNI function table that the launcher uses, records every call in the file named by
// TESTJVM_LOG and takes its behaviour from TESTJVM_* environment variables, so the launcher can be
// tested without a Java runtime. Misuse a real JVM would punish with a crash or undefined
// behaviour (stale references, an environment used on the wrong thread) aborts with a message.

// Makes jni.h declare the creation entry point as exported rather than imported.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "jni_slots.h"
#include "log_file.h"
#include "utf16.h"

#ifdef TESTJVM_IMPL_ENTRY
#define TESTJVM_CREATE_ENTRY JNI_CreateJavaVM_Impl
#else
#define TESTJVM_CREATE_ENTRY JNI_CreateJavaVM
#endif

namespace testjvm {
namespace {

const char kSystemClass[] = "java/lang/System";
const char kStringClass[] = "java/lang/String";
const char kThrowableClass[] = "java/lang/Throwable";

// ---------------------------------------------------------------------------------------------
// Environment

const char* EnvValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

bool EnvFlag(const char* name) {
  const char* value = EnvValue(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool EnvNumber(const char* name, long* number) {
  const char* value = EnvValue(name);
  if (value == nullptr) return false;
  char* end = nullptr;
  *number = std::strtol(value, &end, 10);
  return *end == '\0';
}

// The main class in the internal form FindClass expects; the variable may use either form.
std::string MainClassName() {
  const char* value = EnvValue("TESTJVM_MAIN_CLASS");
  std::string name = value != nullptr ? value : "test/Main";
  for (char& c : name) {
    if (c == '.') c = '/';
  }
  return name;
}

// ---------------------------------------------------------------------------------------------
// Objects and local references

enum class Kind { kClass, kString, kArray, kThrowable };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  Kind kind;
  std::string name;               // class: internal name; throwable: class name as Java prints it
  std::string message;            // throwable
  std::u16string text;            // string
  std::vector<Object*> elements;  // array
  std::string element_class;      // array
};

// Every reference handed out is a distinct handle, so a handle used after DeleteLocalRef or
// deleted twice is caught even though the object it named is still alive.
struct Ref {
  Object* target;
  bool live;
};

struct State {
  std::mutex mutex;
  bool created = false;
  std::vector<std::unique_ptr<Object>> objects;
  std::vector<std::unique_ptr<Ref>> refs;
  std::unordered_set<const Ref*> known_refs;
  std::map<std::string, Object*> classes;
  std::map<std::u16string, std::u16string> properties;
  long refs_created = 0;
  long refs_deleted = 0;
};

// Never destroyed, so objects stay reachable and a thread still inside the library while exit()
// runs keeps working.
State& TheState() {
  static State* const state = new State;
  return *state;
}

// Hooks a JVM accepts as the "exit" and "abort" options; set once at creation.
void(JNICALL* exit_hook)(jint) = nullptr;
void(JNICALL* abort_hook)() = nullptr;
// The file of -XX:ArchiveClassesAtExit, written when the JVM ends as a real one writes it.
std::string* archive_at_exit = new std::string;

JavaVM the_vm{};
thread_local JNIEnv thread_env{};
thread_local bool thread_attached = false;
thread_local Object* pending_exception = nullptr;

void Log(const std::string& line) {
  AppendLogLine(line);
}

[[noreturn]] void Abort() {
  std::fflush(nullptr);
  if (abort_hook != nullptr) abort_hook();
  std::abort();
}

// Reports a misuse of the interface that a real JVM would not survive either.
[[noreturn]] void Fatal(const std::string& message) {
  Log("fatal " + message);
  std::fprintf(stderr, "testjvm: %s\n", message.c_str());
  Abort();
}

[[noreturn]] void Unexpected(const char* slot) {
  Log(std::string("unexpected ") + slot);
  std::fprintf(stderr, "testjvm: unexpected call to JNI function %s\n", slot);
  Abort();
}

// Writes the dynamic archive asked for at creation, as a real JVM does before it ends: the
// old file removed, then a new one with the archive's magic number and a header page.
void WriteArchiveAtExit() {
  if (archive_at_exit->empty()) return;
  std::remove(archive_at_exit->c_str());
  std::FILE* file = std::fopen(archive_at_exit->c_str(), "wb");
  if (file == nullptr) return;
  std::string bytes = "\xa8\xab\x0b\xf0";
  bytes.resize(8192, '\0');
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  Log("archive written " + *archive_at_exit);
}

// Ends the process as System.exit does. Later callers block for good, as behind the JVM's
// shutdown lock, so exit() never runs twice at once.
[[noreturn]] void Halt(jint code) {
  static std::mutex* const exit_mutex = new std::mutex;
  exit_mutex->lock();
  Log("exit " + std::to_string(code));
  WriteArchiveAtExit();
  if (exit_hook != nullptr) exit_hook(code);
  std::fflush(nullptr);
  std::exit(code);
}

// The caller holds the state mutex in all of the following helpers.

Object* NewObject(State& state, Kind kind) {
  state.objects.push_back(std::make_unique<Object>(kind));
  return state.objects.back().get();
}

jobject NewRef(State& state, Object* target) {
  if (target == nullptr) return nullptr;
  state.refs.push_back(std::make_unique<Ref>(Ref{target, true}));
  Ref* ref = state.refs.back().get();
  state.known_refs.insert(ref);
  ++state.refs_created;
  return reinterpret_cast<jobject>(ref);
}

Ref* LiveRef(State& state, jobject handle, const char* function) {
  Ref* ref = reinterpret_cast<Ref*>(handle);
  if (state.known_refs.count(ref) == 0) {
    Fatal(std::string(function) + " received something that is not a reference");
  }
  if (!ref->live) Fatal(std::string(function) + " received a deleted local reference");
  return ref;
}

// Resolves a reference that may be null.
Object* Deref(State& state, jobject handle, const char* function) {
  return handle == nullptr ? nullptr : LiveRef(state, handle, function)->target;
}

Object* DerefAs(State& state, jobject handle, Kind kind, const char* function) {
  Object* object = Deref(state, handle, function);
  if (object == nullptr) Fatal(std::string(function) + " received a null reference");
  if (object->kind != kind) Fatal(std::string(function) + " received an object of the wrong kind");
  return object;
}

Object* NewString(State& state, std::u16string text) {
  Object* string = NewObject(state, Kind::kString);
  string->text = std::move(text);
  return string;
}

void Throw(State& state, const char* exception_class, const std::string& message) {
  Object* exception = NewObject(state, Kind::kThrowable);
  exception->name = exception_class;
  exception->message = message;
  pending_exception = exception;
}

// Checks made on entry to every JNI function: the environment must belong to the calling
// thread, and only the functions JNI lists as safe may run while an exception is pending.
void Enter(JNIEnv* env, const char* function, bool exception_safe = false) {
  if (env != &thread_env || !thread_attached) {
    Fatal(std::string(function) + " called with a JNIEnv of another thread");
  }
  if (!exception_safe && pending_exception != nullptr) {
    Log(std::string("warning ") + function + " called with exception pending");
  }
}

// ---------------------------------------------------------------------------------------------
// Classes and methods

enum class MethodKind { kGetProperty, kSetProperty, kExit, kMain, kToString };

struct Method {
  MethodKind kind;
  const char* class_name;  // null for main, whose class is chosen by the environment
  const char* name;
  const char* signature;
  bool is_static;
};

const Method kMethods[] = {
    {MethodKind::kGetProperty, kSystemClass, "getProperty",
     "(Ljava/lang/String;)Ljava/lang/String;", true},
    {MethodKind::kSetProperty, kSystemClass, "setProperty",
     "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true},
    {MethodKind::kExit, kSystemClass, "exit", "(I)V", true},
    {MethodKind::kMain, nullptr, "main", "([Ljava/lang/String;)V", true},
    {MethodKind::kToString, kThrowableClass, "toString", "()Ljava/lang/String;", false},
};

bool IsKnownClass(const std::string& name) {
  if (name == kSystemClass || name == kStringClass || name == kThrowableClass) return true;
  return !EnvFlag("TESTJVM_NO_MAIN_CLASS") && name == MainClassName();
}

const Method* MethodOf(jmethodID id, const char* function) {
  for (const Method& method : kMethods) {
    if (reinterpret_cast<const Method*>(id) == &method) return &method;
  }
  Fatal(std::string(function) + " received an unknown method ID");
}

char ReturnType(const Method& method) {
  return std::strchr(method.signature, ')')[1];
}

// Reads the variable arguments of a Call*MethodV function as the method's signature describes.
std::vector<jvalue> ReadArguments(const Method& method, va_list args) {
  std::vector<jvalue> values;
  for (const char* p = method.signature + 1; *p != ')'; ++p) {
    jvalue value{};
    switch (*p) {
      case 'Z':
        value.z = static_cast<jboolean>(va_arg(args, int));
        break;
      case 'B':
        value.b = static_cast<jbyte>(va_arg(args, int));
        break;
      case 'C':
        value.c = static_cast<jchar>(va_arg(args, int));
        break;
      case 'S':
        value.s = static_cast<jshort>(va_arg(args, int));
        break;
      case 'I':
        value.i = va_arg(args, jint);
        break;
      case 'J':
        value.j = va_arg(args, jlong);
        break;
      case 'F':
        value.f = static_cast<jfloat>(va_arg(args, double));
        break;
      case 'D':
        value.d = va_arg(args, double);
        break;
      default:  // an object: skip array dimensions and the class name
        while (*p == '[') ++p;
        if (*p == 'L') p = std::strchr(p, ';');
        value.l = va_arg(args, jobject);
        break;
    }
    values.push_back(value);
  }
  return values;
}

// String argument of a System method; null sets a NullPointerException and returns false.
bool StringArgument(State& state, jobject handle, const char* function, std::u16string* text) {
  Object* string = Deref(state, handle, function);
  if (string == nullptr) {
    Throw(state, "java.lang.NullPointerException", "");
    return false;
  }
  if (string->kind != Kind::kString) Fatal(std::string(function) + " received a non-string");
  *text = string->text;
  return true;
}

// Runs the main method after it has logged its arguments, without holding the state lock so
// that other threads can use the JVM meanwhile.
void RunMain() {
  if (const char* text = EnvValue("TESTJVM_PRINT")) {
    std::fputs((std::string(text) + "\n").c_str(), stdout);
    std::fflush(stdout);
    std::fputs((std::string(text) + "\n").c_str(), stderr);
    std::fflush(stderr);
  }
  long number = 0;
  if (EnvNumber("TESTJVM_MAIN_SLEEP_MS", &number) && number > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(number));
  }
  if (EnvNumber("TESTJVM_EXIT", &number)) Halt(static_cast<jint>(number));
  if (EnvFlag("TESTJVM_THROW")) {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    Throw(state, "java.lang.RuntimeException", "thrown by the test main class");
  }
}

jobject InvokeStatic(JNIEnv* env, jclass cls, const Method& method, const jvalue* args,
                     char return_type, const char* function) {
  Enter(env, function);
  if (!method.is_static) Fatal(std::string(function) + " called for an instance method");
  if ((ReturnType(method) == 'V') != (return_type == 'V')) {
    Fatal(std::string(function) + " called for " + method.name + method.signature);
  }
  State& state = TheState();
  std::unique_lock<std::mutex> lock(state.mutex);
  DerefAs(state, cls, Kind::kClass, function);
  switch (method.kind) {
    case MethodKind::kGetProperty: {
      std::u16string key;
      if (!StringArgument(state, args[0].l, function, &key)) return nullptr;
      Log("getProperty " + EncodeUtf8(key));
      if (key.empty()) {
        Throw(state, "java.lang.IllegalArgumentException", "key can't be empty");
        return nullptr;
      }
      auto found = state.properties.find(key);
      if (found == state.properties.end()) return nullptr;
      return NewRef(state, NewString(state, found->second));
    }
    case MethodKind::kSetProperty: {
      std::u16string key;
      std::u16string value;
      if (!StringArgument(state, args[0].l, function, &key) ||
          !StringArgument(state, args[1].l, function, &value)) {
        return nullptr;
      }
      Log("setProperty " + EncodeUtf8(key) + "=" + EncodeUtf8(value));
      if (key.empty()) {
        Throw(state, "java.lang.IllegalArgumentException", "key can't be empty");
        return nullptr;
      }
      // Like the real method, answers the value the property had before.
      auto found = state.properties.find(key);
      Object* previous =
          found == state.properties.end() ? nullptr : NewString(state, found->second);
      state.properties[key] = value;
      return NewRef(state, previous);
    }
    case MethodKind::kExit:
      lock.unlock();
      Halt(args[0].i);
    case MethodKind::kMain: {
      Object* array = Deref(state, args[0].l, function);
      if (array == nullptr) {
        Log("main argc=null");
      } else {
        if (array->kind != Kind::kArray) Fatal(std::string(function) + " received a non-array");
        Log("main argc=" + std::to_string(array->elements.size()));
        for (size_t i = 0; i < array->elements.size(); ++i) {
          const Object* arg = array->elements[i];
          std::string line = "arg[" + std::to_string(i) + "]";
          if (arg == nullptr) {
            line += " null";
          } else if (!arg->text.empty()) {
            line += " " + HexUnits(arg->text);
          }
          Log(line);
        }
      }
      lock.unlock();
      RunMain();
      return nullptr;
    }
    case MethodKind::kToString:  // an instance method, refused above
      break;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// JNI functions

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  Enter(env, "FindClass");
  if (name == nullptr) Fatal("FindClass received a null name");
  Log(std::string("findclass ") + name);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!IsKnownClass(name)) {
    Throw(state, "java.lang.NoClassDefFoundError", name);
    return nullptr;
  }
  Object*& cls = state.classes[name];
  if (cls == nullptr) {
    cls = NewObject(state, Kind::kClass);
    cls->name = name;
  }
  return static_cast<jclass>(NewRef(state, cls));
}

jmethodID FindMethod(JNIEnv* env, jclass cls, const char* name, const char* sig, bool is_static,
                     const char* function) {
  Enter(env, function);
  if (name == nullptr || sig == nullptr) Fatal(std::string(function) + " received a null name");
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  const std::string class_name = DerefAs(state, cls, Kind::kClass, function)->name;
  Log("method " + class_name + " " + name + " " + sig);
  // TESTJVM_NO_GET_PROPERTY=1 stands for a runtime that cannot report its version.
  const bool hide = EnvFlag("TESTJVM_NO_GET_PROPERTY") && std::strcmp(name, "getProperty") == 0;
  for (const Method& method : kMethods) {
    if (hide) break;
    const bool in_class = method.kind == MethodKind::kMain
                              ? class_name == MainClassName() && !EnvFlag("TESTJVM_NO_MAIN_METHOD")
                              : class_name == method.class_name;
    if (in_class && method.is_static == is_static && std::strcmp(name, method.name) == 0 &&
        std::strcmp(sig, method.signature) == 0) {
      return reinterpret_cast<jmethodID>(const_cast<Method*>(&method));
    }
  }
  Throw(state, "java.lang.NoSuchMethodError", name);
  return nullptr;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  return FindMethod(env, cls, name, sig, true, "GetStaticMethodID");
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  return FindMethod(env, cls, name, sig, false, "GetMethodID");
}

// The one instance method: Throwable.toString(), "<class>" or "<class>: <message>".
jobject CallToString(JNIEnv* env, jobject object, jmethodID id, const char* function) {
  Enter(env, function);
  if (MethodOf(id, function)->kind != MethodKind::kToString) {
    Fatal(std::string(function) + " called for a static method");
  }
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  const Object* exception = DerefAs(state, object, Kind::kThrowable, function);
  Log("toString " + exception->name);
  std::string text = exception->name;
  if (!exception->message.empty()) text += ": " + exception->message;
  return NewRef(state, NewString(state, DecodeUtf8(text.c_str())));
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject object, jmethodID id, ...) {
  return CallToString(env, object, id, "CallObjectMethod");
}

jobject JNICALL CallObjectMethodV(JNIEnv* env, jobject object, jmethodID id, va_list) {
  return CallToString(env, object, id, "CallObjectMethodV");
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
  const Method& method = *MethodOf(id, "CallStaticObjectMethodV");
  std::vector<jvalue> values = ReadArguments(method, args);
  return InvokeStatic(env, cls, method, values.data(), 'L', "CallStaticObjectMethodV");
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  const Method& method = *MethodOf(id, "CallStaticObjectMethod");
  std::vector<jvalue> values = ReadArguments(method, args);
  va_end(args);
  return InvokeStatic(env, cls, method, values.data(), 'L', "CallStaticObjectMethod");
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  return InvokeStatic(env, cls, *MethodOf(id, "CallStaticObjectMethodA"), args, 'L',
                      "CallStaticObjectMethodA");
}

void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
  const Method& method = *MethodOf(id, "CallStaticVoidMethodV");
  std::vector<jvalue> values = ReadArguments(method, args);
  InvokeStatic(env, cls, method, values.data(), 'V', "CallStaticVoidMethodV");
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  const Method& method = *MethodOf(id, "CallStaticVoidMethod");
  std::vector<jvalue> values = ReadArguments(method, args);
  va_end(args);
  InvokeStatic(env, cls, method, values.data(), 'V', "CallStaticVoidMethod");
}

void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  InvokeStatic(env, cls, *MethodOf(id, "CallStaticVoidMethodA"), args, 'V',
               "CallStaticVoidMethodA");
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf8) {
  Enter(env, "NewStringUTF");
  if (utf8 == nullptr) return nullptr;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<jstring>(NewRef(state, NewString(state, DecodeUtf8(utf8))));
}

jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
  Enter(env, "NewString");
  if (length < 0 || (units == nullptr && length > 0)) Fatal("NewString received a bad buffer");
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<jstring>(
      NewRef(state, NewString(state, std::u16string(units, units + length))));
}

std::u16string TextOf(JNIEnv* env, jstring string, const char* function, bool exception_safe) {
  Enter(env, function, exception_safe);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return DerefAs(state, string, Kind::kString, function)->text;
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring string) {
  return static_cast<jsize>(TextOf(env, string, "GetStringLength", false).size());
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring string) {
  return static_cast<jsize>(
      EncodeModifiedUtf8(TextOf(env, string, "GetStringUTFLength", false)).size());
}

// Both Get*Chars functions always copy, into a terminated buffer that the Release* call frees.
const jchar* JNICALL GetStringChars(JNIEnv* env, jstring string, jboolean* is_copy) {
  const std::u16string text = TextOf(env, string, "GetStringChars", false);
  auto* units = static_cast<jchar*>(std::malloc((text.size() + 1) * sizeof(jchar)));
  if (units == nullptr) Fatal("out of memory");
  std::copy(text.begin(), text.end(), units);
  units[text.size()] = 0;
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  return units;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring string, const jchar* chars) {
  TextOf(env, string, "ReleaseStringChars", true);
  std::free(const_cast<jchar*>(chars));
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring string, jboolean* is_copy) {
  const std::string bytes = EncodeModifiedUtf8(TextOf(env, string, "GetStringUTFChars", false));
  auto* chars = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (chars == nullptr) Fatal("out of memory");
  std::memcpy(chars, bytes.c_str(), bytes.size() + 1);
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  return chars;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars) {
  TextOf(env, string, "ReleaseStringUTFChars", true);
  std::free(const_cast<char*>(chars));
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass element_class,
                                    jobject initial) {
  const char* function = "NewObjectArray";
  Enter(env, function);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  Object* cls = DerefAs(state, element_class, Kind::kClass, function);
  Object* value = Deref(state, initial, function);
  if (length < 0) {
    Throw(state, "java.lang.NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  Object* array = NewObject(state, Kind::kArray);
  array->element_class = cls->name;
  array->elements.assign(static_cast<size_t>(length), value);
  return static_cast<jobjectArray>(NewRef(state, array));
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  Enter(env, "GetArrayLength");
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<jsize>(DerefAs(state, array, Kind::kArray, "GetArrayLength")->elements.size());
}

// Returns the array, or null with an ArrayIndexOutOfBoundsException pending.
Object* ArrayForIndex(State& state, jobjectArray handle, jsize index, const char* function) {
  Object* array = DerefAs(state, handle, Kind::kArray, function);
  if (index < 0 || static_cast<size_t>(index) >= array->elements.size()) {
    Throw(state, "java.lang.ArrayIndexOutOfBoundsException",
          "Index " + std::to_string(index) + " out of bounds for length " +
              std::to_string(array->elements.size()));
    return nullptr;
  }
  return array;
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray handle, jsize index) {
  const char* function = "GetObjectArrayElement";
  Enter(env, function);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  Object* array = ArrayForIndex(state, handle, index, function);
  return array == nullptr ? nullptr : NewRef(state, array->elements[index]);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray handle, jsize index, jobject value) {
  const char* function = "SetObjectArrayElement";
  Enter(env, function);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  Object* element = Deref(state, value, function);
  Object* array = ArrayForIndex(state, handle, index, function);
  if (array == nullptr) return;
  if (element != nullptr && array->element_class == kStringClass &&
      element->kind != Kind::kString) {
    Throw(state, "java.lang.ArrayStoreException", "");
    return;
  }
  array->elements[index] = element;
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject handle) {
  Enter(env, "DeleteLocalRef", true);
  if (handle == nullptr) return;
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  LiveRef(state, handle, "DeleteLocalRef")->live = false;
  ++state.refs_deleted;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  Enter(env, "ExceptionOccurred", true);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<jthrowable>(NewRef(state, pending_exception));
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  Enter(env, "ExceptionCheck", true);
  return pending_exception != nullptr ? JNI_TRUE : JNI_FALSE;
}

// Prints the pending exception as an uncaught one and clears it, as a JVM does.
void JNICALL ExceptionDescribe(JNIEnv* env) {
  Enter(env, "ExceptionDescribe", true);
  const Object* exception = pending_exception;
  if (exception == nullptr) return;
  pending_exception = nullptr;
  Log("describe " + exception->name);
  std::string line = "Exception in thread \"main\" " + exception->name;
  if (!exception->message.empty()) line += ": " + exception->message;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void JNICALL ExceptionClear(JNIEnv* env) {
  Enter(env, "ExceptionClear", true);
  Log("clear");
  pending_exception = nullptr;
}

#define TESTJVM_DEFINE_TRAP(slot)  \
  [[noreturn]] void Trap##slot() { \
    Unexpected(#slot);             \
  }
TESTJVM_JNI_SLOTS(TESTJVM_DEFINE_TRAP)
#undef TESTJVM_DEFINE_TRAP

#define TESTJVM_COUNT_SLOT(slot) +1
static_assert(sizeof(JNINativeInterface_) ==
                  (4 TESTJVM_JNI_SLOTS(TESTJVM_COUNT_SLOT)) * sizeof(void*),
              "jni_slots.h must list every function of this jni.h");
#undef TESTJVM_COUNT_SLOT

JNINativeInterface_ MakeFunctionTable() {
  JNINativeInterface_ table{};
  // The traps take no arguments and never return, so the mismatched types are never exercised.
#define TESTJVM_SET_TRAP(slot) table.slot = reinterpret_cast<decltype(table.slot)>(&Trap##slot);
  TESTJVM_JNI_SLOTS(TESTJVM_SET_TRAP)
#undef TESTJVM_SET_TRAP
  table.FindClass = FindClass;
  table.GetStaticMethodID = GetStaticMethodID;
  table.GetMethodID = GetMethodID;
  table.CallObjectMethod = CallObjectMethod;
  table.CallObjectMethodV = CallObjectMethodV;
  table.CallStaticObjectMethod = CallStaticObjectMethod;
  table.CallStaticObjectMethodV = CallStaticObjectMethodV;
  table.CallStaticObjectMethodA = CallStaticObjectMethodA;
  table.CallStaticVoidMethod = CallStaticVoidMethod;
  table.CallStaticVoidMethodV = CallStaticVoidMethodV;
  table.CallStaticVoidMethodA = CallStaticVoidMethodA;
  table.NewStringUTF = NewStringUTF;
  table.NewString = NewString;
  table.GetStringLength = GetStringLength;
  table.GetStringChars = GetStringChars;
  table.ReleaseStringChars = ReleaseStringChars;
  table.GetStringUTFLength = GetStringUTFLength;
  table.GetStringUTFChars = GetStringUTFChars;
  table.ReleaseStringUTFChars = ReleaseStringUTFChars;
  table.NewObjectArray = NewObjectArray;
  table.GetArrayLength = GetArrayLength;
  table.GetObjectArrayElement = GetObjectArrayElement;
  table.SetObjectArrayElement = SetObjectArrayElement;
  table.DeleteLocalRef = DeleteLocalRef;
  table.ExceptionOccurred = ExceptionOccurred;
  table.ExceptionCheck = ExceptionCheck;
  table.ExceptionDescribe = ExceptionDescribe;
  table.ExceptionClear = ExceptionClear;
  return table;
}

const JNINativeInterface_* FunctionTable() {
  static const JNINativeInterface_ table = MakeFunctionTable();
  return &table;
}

// ---------------------------------------------------------------------------------------------
// Invocation interface

bool IsSupportedVersion(jint version) {
  switch (version) {
    case 0x00010002:  // 1.2
    case 0x00010004:  // 1.4
    case 0x00010006:  // 1.6
    case 0x00010008:  // 1.8
    case 0x00090000:  // 9
    case 0x000a0000:  // 10
    case 0x00130000:  // 19
    case 0x00140000:  // 20
    case 0x00150000:  // 21
      return true;
    default:
      return false;
  }
}

void AttachThisThread(void** penv) {
  thread_env.functions = FunctionTable();
  thread_attached = true;
  *penv = &thread_env;
}

jint JNICALL DestroyJavaVM(JavaVM*) {
  Log("destroy");
  WriteArchiveAtExit();
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  Log("localrefs created=" + std::to_string(state.refs_created) +
      " deleted=" + std::to_string(state.refs_deleted));
  for (auto& ref : state.refs) ref->live = false;
  state.created = false;
  thread_attached = false;
  pending_exception = nullptr;
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) {
  Log("attach");
  AttachThisThread(penv);
  return JNI_OK;
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** penv, void*) {
  Log("attach daemon");
  AttachThisThread(penv);
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
  Log("detach");
  thread_attached = false;
  pending_exception = nullptr;
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
  *penv = nullptr;
  if (!thread_attached) return JNI_EDETACHED;
  if (version != 0x00010001 && !IsSupportedVersion(version)) return JNI_EVERSION;
  *penv = &thread_env;
  return JNI_OK;
}

const JNIInvokeInterface_* InvokeTable() {
  static const JNIInvokeInterface_ table = [] {
    JNIInvokeInterface_ t{};
    t.DestroyJavaVM = DestroyJavaVM;
    t.AttachCurrentThread = AttachCurrentThread;
    t.DetachCurrentThread = DetachCurrentThread;
    t.GetEnv = GetEnv;
    t.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
    return t;
  }();
  return &table;
}

char HexDigit(unsigned value) {
  return "0123456789abcdef"[value & 0xF];
}

jint CreateJavaVM(JavaVM** pvm, void** penv, void* raw_args) {
  const auto* args = static_cast<const JavaVMInitArgs*>(raw_args);
  if (pvm == nullptr || penv == nullptr || args == nullptr) {
    Fatal("JNI_CreateJavaVM received a null pointer");
  }
  std::string version = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) version += HexDigit(args->version >> shift);
  Log("create version=" + version + " nOptions=" + std::to_string(args->nOptions) +
      " ignoreUnrecognized=" + std::to_string(args->ignoreUnrecognized));
  for (jint i = 0; i < args->nOptions; ++i) {
    const JavaVMOption& option = args->options[i];
    if (option.optionString == nullptr) Fatal("JNI_CreateJavaVM received a null option");
    Log(std::string("option ") + option.optionString);
  }
  if (EnvFlag("TESTJVM_FAIL_CREATE")) return JNI_ERR;
  if (!IsSupportedVersion(args->version)) return JNI_EVERSION;

  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.created) return JNI_EEXIST;
  state.created = true;
  state.refs_created = 0;
  state.refs_deleted = 0;
  state.properties.clear();
  if (!EnvFlag("TESTJVM_VERSION_NULL")) {
    const char* java_version = EnvValue("TESTJVM_VERSION");
    state.properties[u"java.version"] = DecodeUtf8(java_version ? java_version : "17.0.99");
  }
  exit_hook = nullptr;
  abort_hook = nullptr;
  archive_at_exit->clear();
  for (jint i = 0; i < args->nOptions; ++i) {
    const JavaVMOption& option = args->options[i];
    const char* archive = "-XX:ArchiveClassesAtExit=";
    if (std::strncmp(option.optionString, archive, std::strlen(archive)) == 0) {
      *archive_at_exit = option.optionString + std::strlen(archive);
    } else if (std::strcmp(option.optionString, "exit") == 0) {
      exit_hook = reinterpret_cast<void(JNICALL*)(jint)>(option.extraInfo);
    } else if (std::strcmp(option.optionString, "abort") == 0) {
      abort_hook = reinterpret_cast<void(JNICALL*)()>(option.extraInfo);
    }
  }
  the_vm.functions = InvokeTable();
  *pvm = &the_vm;
  pending_exception = nullptr;
  AttachThisThread(penv);
  return JNI_OK;
}

}  // namespace
}  // namespace testjvm

extern "C" JNIEXPORT jint JNICALL TESTJVM_CREATE_ENTRY(JavaVM** pvm, void** penv, void* args) {
  return testjvm::CreateJavaVM(pvm, penv, args);
}
