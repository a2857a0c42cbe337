/* The least a native program must do to run a Java main: the floor the launcher is measured
 * against.
 *
 *   floor LIBJVM CLASS_PATH MAIN_CLASS [PRELOAD_LIBRARY]
 *
 * dlopens LIBJVM, creates the JVM with the single option -Djava.class.path=CLASS_PATH on a
 * second thread, calls MAIN_CLASS.main with an empty String[] there and destroys the JVM. No
 * search, no settings, no signal handling. PRELOAD_LIBRARY, when given, is dlopened (and kept)
 * before the JVM library, the way the launcher opens the runtime's splash screen library; it
 * exists to price that one step. The exit status is 0, or 1 when a step fails. */
#include <dlfcn.h>
#include <jni.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef jint(JNICALL* CreateJavaVM)(JavaVM**, void**, void*);

struct Job {
  const char* library;
  const char* classPath;
  const char* mainClass;
  int status;
};

static void* RunJava(void* raw) {
  struct Job* job = (struct Job*)raw;
  job->status = 1;
  void* handle = dlopen(job->library, RTLD_LAZY);
  if (!handle) {
    fprintf(stderr, "floor: %s\n", dlerror());
    return NULL;
  }
  CreateJavaVM create = (CreateJavaVM)dlsym(handle, "JNI_CreateJavaVM");
  if (!create) {
    fprintf(stderr, "floor: no JNI_CreateJavaVM in %s\n", job->library);
    return NULL;
  }

  size_t length = strlen("-Djava.class.path=") + strlen(job->classPath) + 1;
  char* option = malloc(length);
  snprintf(option, length, "-Djava.class.path=%s", job->classPath);
  JavaVMOption options[1];
  options[0].optionString = option;
  options[0].extraInfo = NULL;
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_2;
  args.nOptions = 1;
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;

  JavaVM* vm = NULL;
  JNIEnv* env = NULL;
  if (create(&vm, (void**)&env, &args) != JNI_OK) {
    fprintf(stderr, "floor: JNI_CreateJavaVM failed\n");
    return NULL;
  }

  char* slashed = strdup(job->mainClass);
  for (char* p = slashed; *p; ++p) {
    if (*p == '.') *p = '/';
  }
  jclass mainClass = (*env)->FindClass(env, slashed);
  jmethodID main = mainClass ? (*env)->GetStaticMethodID(env, mainClass, "main",
                                                         "([Ljava/lang/String;)V")
                             : NULL;
  jclass stringClass = (*env)->FindClass(env, "java/lang/String");
  jobjectArray empty = stringClass ? (*env)->NewObjectArray(env, 0, stringClass, NULL) : NULL;
  if (main && empty) {
    (*env)->CallStaticVoidMethod(env, mainClass, main, empty);
    if (!(*env)->ExceptionCheck(env)) job->status = 0;
  }
  if ((*env)->ExceptionCheck(env)) (*env)->ExceptionDescribe(env);
  (*vm)->DestroyJavaVM(vm);
  free(slashed);
  free(option);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: floor LIBJVM CLASS_PATH MAIN_CLASS [PRELOAD_LIBRARY]\n");
    return 2;
  }
  if (argc == 5 && !dlopen(argv[4], RTLD_LAZY)) {
    /* The launcher goes on when this fails, and so does the floor. */
  }
  struct Job job = {argv[1], argv[2], argv[3], 1};
  pthread_t thread;
  if (pthread_create(&thread, NULL, RunJava, &job) != 0) {
    fprintf(stderr, "floor: cannot start a thread\n");
    return 1;
  }
  pthread_join(thread, NULL);
  return job.status;
}
