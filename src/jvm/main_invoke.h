// Invoking the main class, and the small JNI helpers shared by the JVM code.
#ifndef LAUNCHER_JVM_MAIN_INVOKE_H_
#define LAUNCHER_JVM_MAIN_INVOKE_H_

#include <jni.h>

#include "core/buffer.h"

// RunMain's result when main ended with an exception: the JVM has described it, and the
// process ends with status 1 and no launcher message, as a failed application should.
const int kMainThrew = -1;

// Finds the main class, builds String[] from the argv words, the command-line arguments and the
// extra arguments, and calls main: 0, 7 (class missing), 8 (no static main(String[])) or
// kMainThrew.
int RunMain(JNIEnv* env, const char* mainClass, MyCStringArray& argvValues, int argCount,
            char** argVector, int extraCount, char** extraVector);

// FindClass with '.' turned into '/'; describes the pending error when the class is missing.
jclass FindClassDotted(JNIEnv* env, const char* name);

// Splits text in place into words (blanks, double quotes, backslash escapes) and adds each
// word's start to the list; returns the new number of words.
int SplitArguments(CBufferT<char*>& wordList, char* text);

// A String[] of the three lists in order; a null entry counts as an empty string.
jobjectArray BuildStringArray(JNIEnv* env, int count1, char** list1, int count2, char** list2,
                              int count3, char** list3);

// True when an exception was pending; it is described first when describe is set, then cleared.
// The JVM describes it on standard error; where user text does not go there (the windowed
// Windows image without a standard error handle), its first line goes to ShowUserText.
bool CheckJavaException(JNIEnv* env, bool describe);

// Calls java.lang.System.exit(status); returns only when it could not be called.
void CallSystemExit(JNIEnv* env, int status);

#endif  // LAUNCHER_JVM_MAIN_INVOKE_H_
