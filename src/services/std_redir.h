// Redirection of standard output and standard error to files (appended) or to commands.
#ifndef LAUNCHER_SERVICES_STD_REDIR_H_
#define LAUNCHER_SERVICES_STD_REDIR_H_

#include "core/buffer.h"
#include "platform/platform.h"

class CStdRedir {
 public:
  // One opened destination: an appended file or the pipe to a command's standard input.
  class CStdRedirTarget {
   public:
    explicit CStdRedirTarget(const char* text);
    virtual ~CStdRedirTarget();
    CStdRedirTarget(const CStdRedirTarget&) = delete;
    CStdRedirTarget& operator=(const CStdRedirTarget&) = delete;

    StreamTarget descriptor;  // kNoStreamTarget when the target could not be opened
    MyCString name;
    void* commandStream;
  };

  CStdRedir();
  // Gives the streams back the destinations they had before redirection.
  virtual ~CStdRedir();
  CStdRedir(const CStdRedir&) = delete;
  CStdRedir& operator=(const CStdRedir&) = delete;

  // The target whose text equals text exactly, created on first request.
  CStdRedirTarget* GetTarget(const char* text);
  void RedirectStdout(const char* text);
  void RedirectStderr(const char* text);

 private:
  void Redirect(int stream, StreamTarget* saved, const char* text);

  CBufferT<CStdRedirTarget*> targets;
  StreamTarget savedStdout;
  StreamTarget savedStderr;
};

#endif  // LAUNCHER_SERVICES_STD_REDIR_H_
