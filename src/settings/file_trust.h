// The files whose contents the launcher runs or obeys (JVM and splash libraries, the external
// configuration file) are used only when no other user can replace them.
#ifndef LAUNCHER_SETTINGS_FILE_TRUST_H_
#define LAUNCHER_SETTINGS_FILE_TRUST_H_

#include "core/buffer.h"

// True when neither the file nor a directory above it is open to other users; otherwise the
// trace says which one is and the caller moves on to its next candidate.
bool IsTrustedFile(const CBufferRefT<char>& path);

#endif  // LAUNCHER_SETTINGS_FILE_TRUST_H_
