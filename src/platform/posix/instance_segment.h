// The single-instance guard's shared counter of the Linux build: a System V shared memory
// segment keyed by the executable file, private to the user that runs it.
#ifndef LAUNCHER_PLATFORM_POSIX_INSTANCE_SEGMENT_H_
#define LAUNCHER_PLATFORM_POSIX_INSTANCE_SEGMENT_H_

// The shared instance segment of one executable file.
struct InstanceSegment;
// The key that identifies the executable file at path (it is shared by hard links to it).
unsigned int InstanceKey(const char* path);
// Attaches (creating when missing) the running user's segment for key that guards the
// executable file at path; a segment that nobody had attached is cleared first. Null when it
// cannot be created or attached, belongs to another user or guards another file whose key is
// the same; why then says which.
InstanceSegment* AttachInstanceSegment(unsigned int key, const char* path, const char** why);
// Adds one to the segment's counter in one atomic step and returns the value before.
int IncrementInstanceCounter(InstanceSegment* segment);
// Detaches the segment and removes it when this was its last user.
void DetachInstanceSegment(InstanceSegment* segment);

#endif  // LAUNCHER_PLATFORM_POSIX_INSTANCE_SEGMENT_H_
