// Loads the test JVM and splash libraries the way the launcher does and checks the records and
// behaviour that the launcher's own tests rely on.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using CreateFunction = jint(JNICALL*)(JavaVM**, void**, void*);
using Lines = std::vector<std::string>;

const char* const kVariables[] = {
    "TESTJVM_FAIL_CREATE",    "TESTJVM_MAIN_CLASS", "TESTJVM_NO_MAIN_CLASS",
    "TESTJVM_NO_MAIN_METHOD", "TESTJVM_VERSION",    "TESTJVM_VERSION_NULL",
    "TESTJVM_MAIN_SLEEP_MS",  "TESTJVM_THROW",      "TESTJVM_EXIT",
    "TESTJVM_PRINT",          "TESTSPLASH_DUMP",
};

const char kMainSignature[] = "([Ljava/lang/String;)V";

// Looks a symbol up in a library, which stays loaded for the rest of the run.
template <typename Function>
Function Symbol(const char* library, const char* name) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr) << dlerror();
  return handle == nullptr ? nullptr : reinterpret_cast<Function>(dlsym(handle, name));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class TestJvmFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) unsetenv(name);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    log_ = ::testing::TempDir() + "testjvm_" + test->test_suite_name() + "_" + test->name() + "_" +
           std::to_string(getpid()) + ".log";
    std::remove(log_.c_str());
    setenv("TESTJVM_LOG", log_.c_str(), 1);
  }

  void TearDown() override {
    if (vm_ != nullptr) Destroy();
    std::remove(log_.c_str());
  }

  jint CreateWith(CreateFunction create, const std::vector<std::string>& options,
                  jboolean ignore_unrecognized = JNI_TRUE) {
    std::vector<JavaVMOption> vm_options;
    for (const std::string& option : options) {
      vm_options.push_back(JavaVMOption{const_cast<char*>(option.c_str()), nullptr});
    }
    JavaVMInitArgs args{JNI_VERSION_1_2, static_cast<jint>(vm_options.size()), vm_options.data(),
                        ignore_unrecognized};
    return create(&vm_, reinterpret_cast<void**>(&env_), &args);
  }

  JNIEnv* Create(const std::vector<std::string>& options = {}) {
    auto create = Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM");
    EXPECT_NE(create, nullptr);
    if (create == nullptr || CreateWith(create, options) != JNI_OK) {
      ADD_FAILURE() << "creating the test JVM failed";
      return nullptr;
    }
    return env_;
  }

  void Destroy() {
    EXPECT_EQ(vm_->DestroyJavaVM(), JNI_OK);
    vm_ = nullptr;
    env_ = nullptr;
  }

  Lines Log() const {
    Lines lines;
    std::istringstream in(ReadFile(log_));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  bool Logged(const std::string& wanted) const {
    for (const std::string& line : Log()) {
      if (line == wanted) return true;
    }
    return false;
  }

  std::u16string Units(jobject string) {
    auto* s = static_cast<jstring>(string);
    const jchar* units = env_->GetStringChars(s, nullptr);
    std::u16string text(units, units + env_->GetStringLength(s));
    env_->ReleaseStringChars(s, units);
    return text;
  }

  // The modified UTF-8 form of a string, or "<null>".
  std::string Text(jobject string) {
    if (string == nullptr) return "<null>";
    auto* s = static_cast<jstring>(string);
    const char* bytes = env_->GetStringUTFChars(s, nullptr);
    std::string text(bytes);
    env_->ReleaseStringUTFChars(s, bytes);
    return text;
  }

  jobjectArray NoArguments() {
    return env_->NewObjectArray(0, env_->FindClass("java/lang/String"), nullptr);
  }

  std::string log_;
  JavaVM* vm_ = nullptr;
  JNIEnv* env_ = nullptr;
};

using TestJvmCreate = TestJvmFixture;

TEST_F(TestJvmCreate, LogsVersionAndEachOptionInOrder) {
  auto create = Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM");
  ASSERT_NE(create, nullptr);
  ASSERT_EQ(
      CreateWith(create, {"-Djava.class.path=/opt/my app/app.jar", "-Xmx64m", "-Dt=caf\xc3\xa9"},
                 JNI_FALSE),
      JNI_OK);
  ASSERT_NE(vm_, nullptr);
  ASSERT_NE(env_, nullptr);
  Destroy();
  EXPECT_EQ(Log(), (Lines{"create version=0x00010002 nOptions=3 ignoreUnrecognized=0",
                          "option -Djava.class.path=/opt/my app/app.jar", "option -Xmx64m",
                          "option -Dt=caf\xc3\xa9", "destroy", "localrefs created=0 deleted=0"}));
}

TEST_F(TestJvmCreate, FailureReturnsAnErrorAndLeavesTheVmPointerAlone) {
  setenv("TESTJVM_FAIL_CREATE", "1", 1);
  auto create = Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM");
  ASSERT_NE(create, nullptr);
  JavaVM* const sentinel = reinterpret_cast<JavaVM*>(&log_);
  vm_ = sentinel;
  EXPECT_NE(CreateWith(create, {"-Xss1m"}), JNI_OK);
  EXPECT_EQ(vm_, sentinel);
  vm_ = nullptr;
  EXPECT_EQ(Log(),
            (Lines{"create version=0x00010002 nOptions=1 ignoreUnrecognized=1", "option -Xss1m"}));
}

TEST_F(TestJvmCreate, ImplBuildExportsOnlyTheImplEntryPoint) {
  EXPECT_NE(Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM"), nullptr);
  EXPECT_EQ(Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM_Impl"), nullptr);
  EXPECT_EQ(Symbol<CreateFunction>(TESTJVM_IMPL_LIB, "JNI_CreateJavaVM"), nullptr);
  auto create = Symbol<CreateFunction>(TESTJVM_IMPL_LIB, "JNI_CreateJavaVM_Impl");
  ASSERT_NE(create, nullptr);
  ASSERT_EQ(CreateWith(create, {"-Dfrom=impl"}), JNI_OK);
  Destroy();
  EXPECT_EQ(Log(), (Lines{"create version=0x00010002 nOptions=1 ignoreUnrecognized=1",
                          "option -Dfrom=impl", "destroy", "localrefs created=0 deleted=0"}));
}

TEST_F(TestJvmCreate, EveryFunctionSlotIsFilledAndUnusedOnesAbortByName) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
  void* slots[kSlots];
  std::memcpy(slots, env->functions, sizeof slots);
  for (size_t i = 4; i < kSlots; ++i) EXPECT_NE(slots[i], nullptr) << "slot " << i;
  EXPECT_DEATH(env->GetVersion(), "unexpected call to JNI function GetVersion");
  EXPECT_TRUE(Logged("unexpected GetVersion"));
}

using TestJvmStrings = TestJvmFixture;

TEST_F(TestJvmStrings, Utf8BecomesUtf16AndComesBackAsModifiedUtf8) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  jstring mixed = env->NewStringUTF("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(Units(mixed), (std::u16string{0x61, 0xe9, 0x20ac, 0xd83d, 0xde00}));
  EXPECT_EQ(Text(mixed), "a\xc3\xa9\xe2\x82\xac\xed\xa0\xbd\xed\xb8\x80");
  EXPECT_EQ(env->GetStringUTFLength(mixed), 12);

  const jchar units[] = {'x', 0, 0xd83d, 0xde00};
  jstring copied = env->NewString(units, 4);
  EXPECT_EQ(Units(copied), (std::u16string{'x', 0, 0xd83d, 0xde00}));
  EXPECT_EQ(Text(copied), "x\xc0\x80\xed\xa0\xbd\xed\xb8\x80");
  // Modified UTF-8 decodes back to the same units; malformed bytes become U+FFFD one by one.
  EXPECT_EQ(Units(env->NewStringUTF(Text(copied).c_str())), Units(copied));
  EXPECT_EQ(Units(env->NewStringUTF("\xff|\xc1\x81|\xe2\x82")),
            (std::u16string{0xfffd, '|', 0xfffd, 0xfffd, '|', 0xfffd, 0xfffd}));
}

using TestJvmMain = TestJvmFixture;

TEST_F(TestJvmMain, LogsArgumentsAsUtf16HexAndCountsReferences) {
  setenv("TESTJVM_MAIN_CLASS", "com.example.App", 1);
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  jclass string_class = env->FindClass("java/lang/String");
  jclass app = env->FindClass("com/example/App");
  ASSERT_NE(app, nullptr);
  jmethodID main = env->GetStaticMethodID(app, "main", kMainSignature);
  ASSERT_NE(main, nullptr);
  const jchar smile[] = {0xd83d, 0xde00};
  jstring values[] = {env->NewStringUTF("hi"), env->NewStringUTF(""), nullptr,
                      env->NewString(smile, 2)};
  jobjectArray args = env->NewObjectArray(4, string_class, nullptr);
  for (jsize i = 0; i < 4; ++i) env->SetObjectArrayElement(args, i, values[i]);
  EXPECT_EQ(env->GetArrayLength(args), 4);
  jobject last = env->GetObjectArrayElement(args, 3);
  EXPECT_EQ(Units(last), u"\U0001F600");
  // Through the variadic slot; the C++ wrapper would use the va_list one.
  env->functions->CallStaticVoidMethod(env, app, main, args);
  EXPECT_FALSE(env->ExceptionCheck());
  for (jobject ref : {jobject{string_class}, jobject{app}, jobject{values[0]}, jobject{values[1]},
                      jobject{values[3]}, jobject{args}, last}) {
    env->DeleteLocalRef(ref);
  }
  Destroy();
  EXPECT_EQ(Log(), (Lines{"create version=0x00010002 nOptions=0 ignoreUnrecognized=1",
                          "findclass java/lang/String", "findclass com/example/App",
                          "method com/example/App main ([Ljava/lang/String;)V", "main argc=4",
                          "arg[0] 0068 0069", "arg[1]", "arg[2] null", "arg[3] d83d de00",
                          "destroy", "localrefs created=7 deleted=7"}));
}

TEST_F(TestJvmMain, EnvironmentMakesMainPrintSleepAndThrow) {
  setenv("TESTJVM_PRINT", "hello from main", 1);
  setenv("TESTJVM_MAIN_SLEEP_MS", "100", 1);
  setenv("TESTJVM_THROW", "1", 1);
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  jclass app = env->FindClass("test/Main");
  ASSERT_NE(app, nullptr);
  jmethodID main = env->GetStaticMethodID(app, "main", kMainSignature);
  ASSERT_NE(main, nullptr);
  jobjectArray args = NoArguments();
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  env->CallStaticVoidMethod(app, main, args);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "hello from main\n");
  EXPECT_EQ(err, "hello from main\n");
  EXPECT_GE(elapsed, std::chrono::milliseconds(100));
  ASSERT_TRUE(env->ExceptionCheck());
  ::testing::internal::CaptureStderr();
  env->ExceptionDescribe();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Exception in thread \"main\" java.lang.RuntimeException: thrown by the test main "
            "class\n");
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_TRUE(Logged("describe java.lang.RuntimeException"));
}

using TestJvmExceptions = TestJvmFixture;

TEST_F(TestJvmExceptions, FailedLookupsStayPendingUntilClearedOrDescribed) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(env->FindClass("no/Such"), nullptr);
  EXPECT_TRUE(env->ExceptionCheck());
  jthrowable thrown = env->ExceptionOccurred();
  EXPECT_NE(thrown, nullptr);
  env->DeleteLocalRef(thrown);
  env->DeleteLocalRef(env->NewStringUTF("used while pending"));
  env->ExceptionClear();
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(env->ExceptionOccurred(), nullptr);

  setenv("TESTJVM_NO_MAIN_METHOD", "1", 1);
  jclass app = env->FindClass("test/Main");
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(env->GetStaticMethodID(app, "main", kMainSignature), nullptr);
  ::testing::internal::CaptureStderr();
  env->ExceptionDescribe();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Exception in thread \"main\" java.lang.NoSuchMethodError: main\n");
  EXPECT_FALSE(env->ExceptionCheck());

  setenv("TESTJVM_NO_MAIN_CLASS", "1", 1);
  EXPECT_EQ(env->FindClass("test/Main"), nullptr);
  ::testing::internal::CaptureStderr();
  env->ExceptionDescribe();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      Log(),
      (Lines{"create version=0x00010002 nOptions=0 ignoreUnrecognized=1", "findclass no/Such",
             "warning NewStringUTF called with exception pending", "clear", "findclass test/Main",
             "method test/Main main ([Ljava/lang/String;)V", "describe java.lang.NoSuchMethodError",
             "findclass test/Main", "describe java.lang.NoClassDefFoundError"}));
}

using TestJvmMisuseDeathTest = TestJvmFixture;

TEST_F(TestJvmMisuseDeathTest, StaleReferencesAndForeignEnvironmentsAbort) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  jstring text = env->NewStringUTF("x");
  env->DeleteLocalRef(text);
  EXPECT_DEATH(env->GetStringLength(text), "GetStringLength received a deleted local reference");
  EXPECT_DEATH(env->DeleteLocalRef(text), "DeleteLocalRef received a deleted local reference");
  EXPECT_DEATH(std::thread([env] { env->FindClass("java/lang/String"); }).join(),
               "FindClass called with a JNIEnv of another thread");
}

using TestJvmThreads = TestJvmFixture;

TEST_F(TestJvmThreads, AttachedThreadGetsItsOwnEnvironmentAndExceptionState) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  JavaVM* vm = vm_;
  EXPECT_EQ(env->FindClass("no/Such"), nullptr);
  std::thread worker([vm, env] {
    void* found = env;
    EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_2), JNI_EDETACHED);
    EXPECT_EQ(found, nullptr);
    JNIEnv* own = nullptr;
    ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr), JNI_OK);
    EXPECT_NE(own, env);
    EXPECT_FALSE(own->ExceptionCheck());
    EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_2), JNI_OK);
    EXPECT_EQ(found, own);
    own->DeleteLocalRef(own->FindClass("java/lang/System"));
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
    EXPECT_EQ(vm->GetEnv(&found, JNI_VERSION_1_2), JNI_EDETACHED);
  });
  worker.join();
  EXPECT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
  EXPECT_EQ(Log(),
            (Lines{"create version=0x00010002 nOptions=0 ignoreUnrecognized=1", "findclass no/Such",
                   "attach", "findclass java/lang/System", "detach", "clear"}));
}

using TestJvmProperties = TestJvmFixture;

TEST_F(TestJvmProperties, JavaVersionComesFromTheEnvironmentAndSetValuesAreKept) {
  auto get_property = [this](const char* key) {
    jclass system = env_->FindClass("java/lang/System");
    jmethodID get =
        env_->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    return Text(env_->CallStaticObjectMethod(system, get, env_->NewStringUTF(key)));
  };
  setenv("TESTJVM_VERSION", "21.0.2", 1);
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(get_property("java.version"), "21.0.2");
  jclass system = env->FindClass("java/lang/System");
  jmethodID set = env->GetStaticMethodID(
      system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  ASSERT_NE(set, nullptr);
  jvalue args[2];
  args[0].l = env->NewStringUTF("app.title");
  args[1].l = env->NewStringUTF("caf\xc3\xa9");
  EXPECT_EQ(env->CallStaticObjectMethodA(system, set, args), nullptr);
  args[1].l = env->NewStringUTF("second");
  EXPECT_EQ(Text(env->CallStaticObjectMethodA(system, set, args)), "caf\xc3\xa9");
  EXPECT_EQ(get_property("app.title"), "second");
  EXPECT_EQ(get_property("missing"), "<null>");
  args[0].l = env->NewStringUTF("");
  EXPECT_EQ(env->CallStaticObjectMethodA(system, set, args), nullptr);
  EXPECT_TRUE(env->ExceptionCheck());
  env->ExceptionClear();
  EXPECT_TRUE(Logged("setProperty app.title=caf\xc3\xa9"));
  EXPECT_TRUE(Logged("getProperty java.version"));

  Destroy();
  setenv("TESTJVM_VERSION_NULL", "1", 1);
  ASSERT_NE(Create(), nullptr);
  EXPECT_EQ(get_property("java.version"), "<null>");
  Destroy();
  unsetenv("TESTJVM_VERSION_NULL");
  unsetenv("TESTJVM_VERSION");
  ASSERT_NE(Create(), nullptr);
  EXPECT_EQ(get_property("java.version"), "17.0.99");
}

using TestJvmExitDeathTest = TestJvmFixture;

TEST_F(TestJvmExitDeathTest, SystemExitAndExitFromMainEndTheProcessWithTheirCode) {
  JNIEnv* env = Create();
  ASSERT_NE(env, nullptr);
  jclass system = env->FindClass("java/lang/System");
  jmethodID exit = env->GetStaticMethodID(system, "exit", "(I)V");
  ASSERT_NE(exit, nullptr);
  EXPECT_EXIT(env->CallStaticVoidMethod(system, exit, 7), ::testing::ExitedWithCode(7), "");
  EXPECT_TRUE(Logged("exit 7"));

  setenv("TESTJVM_EXIT", "3", 1);
  jclass app = env->FindClass("test/Main");
  jmethodID main = env->GetStaticMethodID(app, "main", kMainSignature);
  ASSERT_NE(main, nullptr);
  jobjectArray args = NoArguments();
  EXPECT_EXIT(env->CallStaticVoidMethod(app, main, args), ::testing::ExitedWithCode(3), "");
  const Lines log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"main argc=0", "exit 3"}));
}

void JNICALL ExitHook(jint code) {
  _exit(100 + code);
}

TEST_F(TestJvmExitDeathTest, ExitHookOptionRunsWithTheExitCode) {
  auto create = Symbol<CreateFunction>(TESTJVM_LIB, "JNI_CreateJavaVM");
  ASSERT_NE(create, nullptr);
  JavaVMOption option{const_cast<char*>("exit"), reinterpret_cast<void*>(&ExitHook)};
  JavaVMInitArgs args{JNI_VERSION_1_2, 1, &option, JNI_TRUE};
  ASSERT_EQ(create(&vm_, reinterpret_cast<void**>(&env_), &args), JNI_OK);
  jclass system = env_->FindClass("java/lang/System");
  jmethodID exit = env_->GetStaticMethodID(system, "exit", "(I)V");
  EXPECT_EXIT(env_->CallStaticVoidMethod(system, exit, 5), ::testing::ExitedWithCode(105), "");
}

using TestJvmSplash = TestJvmFixture;

TEST_F(TestJvmSplash, LogsCallsAndDumpsTheImage) {
  const std::string dump = log_ + ".img";
  setenv("TESTSPLASH_DUMP", dump.c_str(), 1);
  auto init = Symbol<int (*)()>(TESTSPLASH_LIB, "SplashInit");
  auto load = Symbol<int (*)(void*, int)>(TESTSPLASH_LIB, "SplashLoadMemory");
  ASSERT_NE(init, nullptr);
  ASSERT_NE(load, nullptr);
  std::string image("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe\x01\x02", 20);
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(load(image.data(), static_cast<int>(image.size())), 1);
  EXPECT_EQ(Log(), (Lines{"splash init", "splash load 20 89504e470d0a1a0a0000000d49484452"}));
  EXPECT_EQ(ReadFile(dump), image);
  std::remove(dump.c_str());

  EXPECT_NE(Symbol<int (*)()>(TESTSPLASH_NOLOAD_LIB, "SplashInit"), nullptr);
  EXPECT_EQ(Symbol<int (*)(void*, int)>(TESTSPLASH_NOLOAD_LIB, "SplashLoadMemory"), nullptr);
}

}  // namespace
