// Exclusive locks on an output target, so that two runs writing one target
// never interleave: the second is refused while the first holds the lock. The
// locks are the kernel's (flock), so a run that dies, however it dies, releases
// its lock with its last descriptor.
#pragma once

#include <string>

// A lock held by this process; released (and its lock file, if any, removed)
// when destroyed.
struct TargetLock {
  int fd = -1;            // the locked descriptor, -1 while none is held
  std::string lock_file;  // the lock file this process created and removes, or empty
  TargetLock() = default;
  TargetLock(const TargetLock&) = delete;
  TargetLock& operator=(const TargetLock&) = delete;
  ~TargetLock();
};

// Takes the lock on directory, which must exist, into *lock. Returns false with
// errno EWOULDBLOCK when another process holds it, or with the reason when the
// directory cannot be opened.
bool LockDirectory(const std::string& directory, TargetLock* lock);

// Takes the lock on the files named prefix + suffix through the lock file
// prefix + ".rnaqubo-lock", created for the purpose and removed on release.
// Returns false as LockDirectory does.
bool LockPrefix(const std::string& prefix, TargetLock* lock);

// The start time of process pid as the kernel counts it (field 22 of
// /proc/<pid>/stat), or an empty string when it cannot be read: with the pid,
// it tells a running process from a later one that took the same number.
std::string ProcessStartTime(long pid);
