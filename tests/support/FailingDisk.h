// A folder whose file system fails on demand with EIO, as a dying disk or a dropped network
// share does: a pass-through FUSE file system over a private backing folder, served by a thread
// of the test process for the life of the object and unmounted at its end. Every file the
// program makes under Path() lands in Backing(), where a test reads what really reached the
// disk without meeting the faults.
//
// Needs /dev/fuse and the right to mount (root here) and a build with libfuse3; otherwise Ok()
// is false and Why() says why, for GTEST_SKIP.
#pragma once

#include <memory>
#include <string>

namespace tw::test {

class FailingDisk {
 public:
  // What can be made to fail. Rename fails when the old or the new name matches.
  enum class Op { Read, Write, Fsync, Rename };

  FailingDisk();
  ~FailingDisk();
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

  bool Ok() const;
  const std::string& Why() const;
  const std::string& Path() const;     // the mount: the program works here
  const std::string& Backing() const;  // the same files, beyond the faults

  // From now on, op on every file whose path under the mount contains namePart fails with EIO
  // once afterBytes more bytes of that op have passed (reads and writes: the call that crosses
  // the mark is cut short there, the next fails). Fsync and Rename fail at once. Replaces an
  // earlier rule for the same op.
  void Fail(Op op, const std::string& namePart, size_t afterBytes = 0);
  // One row of a test's table of faults: what it is called, and the rule Fail sets.
  struct Fault {
    const char* what;
    Op op;
    const char* namePart;
    size_t afterBytes;
  };
  void Fail(const Fault& fault) { Fail(fault.op, fault.namePart, fault.afterBytes); }
  // Every operation works again.
  void Heal();
  // How many operations have failed so far: a test checks it met the fault it set.
  int Failures() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace tw::test
