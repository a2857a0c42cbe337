// The single instance guard (a counter shared by every process of one executable file) and
// the process anchor block published in the environment.
#ifndef LAUNCHER_SERVICES_SINGLE_INSTANCE_H_
#define LAUNCHER_SERVICES_SINGLE_INSTANCE_H_

struct InstanceSegment;

// A 4096-byte block of this process whose address is published as "KEYSHM<key>"; the driver
// writes the settings loader's and the JVM session's addresses into its first two slots.
class CProcessAnchor {
 public:
  CProcessAnchor();
  virtual ~CProcessAnchor();
  CProcessAnchor(const CProcessAnchor&) = delete;
  CProcessAnchor& operator=(const CProcessAnchor&) = delete;
  void Store(void* loader, void* session);

 private:
  void** block;
  bool owned;
};

// The instance segment, attached for the whole life of the process.
class CInstanceGuard {
 public:
  CInstanceGuard();
  virtual ~CInstanceGuard();
  CInstanceGuard(const CInstanceGuard&) = delete;
  CInstanceGuard& operator=(const CInstanceGuard&) = delete;
  // Counts this start; true when another start had already passed the guard.
  bool AnotherInstanceRuns();

 private:
  InstanceSegment* segment;
};

#endif  // LAUNCHER_SERVICES_SINGLE_INSTANCE_H_
